#include "window_fixture.h"

using namespace chiptest;

namespace {

using Load = SimC331::FilterLoad;

std::vector<Load> loads(std::initializer_list<std::pair<int, int>> list)
{
    std::vector<Load> out;
    for (auto &l : list)
        out.push_back(Load{0, uint8_t(l.first), uint8_t(l.second)});
    return out;
}

// The 24 four-tap coefficients of input channel ich as the chip holds them.
std::vector<uint8_t> coefficients(const SimC331 &chip, int ich)
{
    std::vector<uint8_t> out;
    for (int k = 0; k < 24; ++k)
        out.push_back(chip.reg(uint8_t(0x11 + 16 * ich), uint8_t(0x68 + k)));
    return out;
}

// Four-tap coefficient row r (1 to 9): entries 1 to 8 are 0, then these.
std::vector<uint8_t> row(int r)
{
    static const uint8_t tail[10][16] = {
        {},
        {13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24},
        {10, 11, 12, 13, 14, 15, 16, 20, 17, 17, 18, 19, 20, 21, 21, 24},
        {6, 8, 9, 11, 12, 14, 15, 19, 18, 19, 20, 21, 23, 23, 25, 26},
        {1, 3, 5, 8, 10, 12, 15, 17, 19, 21, 22, 24, 27, 28, 29, 30},
        {253, 255, 0, 3, 6, 10, 13, 16, 20, 23, 26, 29, 32, 32, 34, 32},
        {248, 249, 252, 255, 1, 5, 10, 13, 20, 25, 29, 33, 38, 41, 42, 38},
        {246, 245, 246, 248, 252, 0, 5, 10, 18, 26, 33, 40, 45, 49, 51, 44},
        {247, 244, 242, 243, 245, 250, 0, 5, 15, 25, 35, 45, 54, 57, 58, 54},
        {252, 247, 243, 241, 241, 244, 249, 0, 9, 21, 35, 47, 57, 64, 66, 64},
    };
    std::vector<uint8_t> out(8, 0);
    out.insert(out.end(), std::begin(tail[r]), std::end(tail[r]));
    return out;
}

using ScalerTest = WindowTest;

TEST_F(ScalerTest, FilterChosenByShrinkRatio)
{
    struct Case {
        int ratio, table, row;
    } cases[] = {
        {0, 44, 1},       {-3, 44, 1},      {1, 1, 1},        {13107, 1, 1},    {13108, 2, 2},
        {26214, 2, 2},    {26215, 4, 3},    {32768, 4, 3},    {32769, 6, 4},    {39321, 6, 4},
        {39322, 8, 5},    {45875, 8, 5},    {45876, 12, 6},   {49152, 12, 6},   {49153, 17, 6},
        {52428, 17, 6},   {52429, 22, 7},   {55705, 22, 7},   {55706, 27, 7},   {58982, 27, 7},
        {58983, 32, 8},   {62259, 32, 8},   {62260, 38, 9},   {65000, 38, 9},   {65001, 44, 9},
        {0x10000, 44, 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ratio);
        uint64_t mark = chip->mark();
        m->set_lut_hshrnk(fd, c.ratio, 2, 0);
        EXPECT_EQ(chip->filterLoads(mark), loads({{c.table, 131 + 8}}));
        m->set_lut_vshrnk_4sym(fd, c.ratio, 2, 0);
        EXPECT_EQ(coefficients(*chip, 2), row(c.row));
    }
}

TEST_F(ScalerTest, DualLoadsReachTheNextChannelButNeverAChannelEight)
{
    uint64_t mark = chip->mark();
    m->set_lut_hshrnk(fd, 32768, 4, 1);
    m->set_lut_hshrnk(fd, 32768, 7, 1);
    m->set_lut_hshrnk(fd, 32768, 8, 1);
    m->set_lut_hshrnk(fd, 32768, -1, 1);
    EXPECT_EQ(chip->filterLoads(mark), loads({{4, 147}, {4, 151}, {4, 159}}));

    mark = chip->mark();
    m->set_lut_vshrnk_4sym(fd, 32768, 4, 1);
    EXPECT_EQ(coefficients(*chip, 4), row(3));
    EXPECT_EQ(coefficients(*chip, 5), row(3));
    m->set_lut_vshrnk_4sym(fd, 40000, 7, 1);
    EXPECT_EQ(coefficients(*chip, 7), row(5));
    for (const SimC331::Frame &f : chip->framesSince(mark))
        EXPECT_FALSE(f.select && f.value == 0x91) << "a ninth channel was addressed";
    m->set_lut_vshrnk_4sym(fd, 40000, 8, 0);
    EXPECT_EQ(chip->writeHistory(0x91, 0x68, mark).size(), 0u);
}

TEST_F(ScalerTest, PlainVerticalShrinkAndHorizontalZoomDestinations)
{
    m->ich_pair_mode[3] = 4;
    struct Case {
        const char *name;
        std::function<void()> load;
        std::vector<Load> expect;
    } cases[] = {
        {"vertical, channel 4", [&] { m->set_lut_vshrnk(fd, 20000, 4); }, loads({{2, 146}, {2, 150}})},
        {"vertical, channel 5", [&] { m->set_lut_vshrnk(fd, 20000, 5); }, loads({{2, 154}, {2, 158}})},
        {"vertical, channel 1 alone", [&] { m->set_lut_vshrnk(fd, 20000, 1); }, loads({{2, 134}})},
        {"vertical, channel 3 of a pair", [&] { m->set_lut_vshrnk(fd, 20000, 3); }, loads({{2, 138}, {2, 142}})},
        {"vertical, channel 6", [&] { m->set_lut_vshrnk(fd, 20000, 6); }, {}},
        {"zoom, output channel 3", [&] { m->set_lut_hzoom(fd, 123, 3); }, loads({{46, 141}})},
        {"zoom, output channel 8", [&] { m->set_lut_hzoom(fd, 123, 8); }, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t mark = chip->mark();
        c.load();
        EXPECT_EQ(chip->filterLoads(mark), c.expect);
    }
}

} // namespace
