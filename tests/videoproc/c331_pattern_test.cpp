// Test patterns and the input background of the output channels.

#include "input_fixture.h"

using namespace chiptest;

namespace {

// Pattern generator registers of output channel c, in the order 0x57, 0x58,
// 0x59, 0x5A, 0x5B (2), 0x5D (2), 0x5F (2), 0x61 (2), 0x63 .. 0x68.
std::vector<uint32_t> generator(SimC331 &chip, int c)
{
    const uint32_t regs[] = {0x085701, 0x085801, 0x085901, 0x085A01, 0x085B02, 0x085D02, 0x085F02,
                             0x086102, 0x086301, 0x086401, 0x086501, 0x086601, 0x086701, 0x086801};
    std::vector<uint32_t> out;
    for (uint32_t r : regs)
        out.push_back(chip.value(r, 16 * c));
    return out;
}

class PatternTest : public InputTest
{
protected:
    void SetUp() override
    {
        InputTest::SetUp();
        // One window over output channels 0 and 1, showing port 1 (no signal).
        show(0, 1, {0, 1});
        ST_WIN_INFO &w0 = m->gWininfo[0];
        w0.ochLst[0] = 0;
        w0.ochLst[1] = 1;
        w0.och_HCnt = 2;
        w0.och_VCnt = 1;
        w0.w = 1920;
    }
    bool pattern(int n) { return m->c331_SetPattern(n) == 0; }
};

TEST_F(PatternTest, PatternsWriteTheGeneratorOfTheWindowsChannels)
{
    // Patterns 1 to 20 on a window not wider than 2048 pixels.
    const std::vector<uint32_t> table[20] = {
        {4, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 3, 3, 3},
        {4, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 3, 3, 3},
        {4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 3, 3, 3},
        {4, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3},
        {1, 0, 0, 0, 0x8000, 0, 480, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {14, 0, 0, 0, 0, 0, 1, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {15, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        std::vector<uint32_t>(14, 0),   // 9 and 10 draw nothing
        std::vector<uint32_t>(14, 0),
        {8, 0x30, 0, 0, 0x8000, 0, 32, 32, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {5, 0, 0, 0, 0x8000, 0, 240, 270, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {14, 0, 0, 0, 0x8000, 0, 1, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {1, 0, 0, 0, 0x8000, 0, 480, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {3, 0, 1, 0, 0x8000, 0, 0x8FFF, 0, 0, 0x78, 0, 0, 0, 0},
        {3, 2, 1, 1, 0x8000, 0, 0x8FFF, 0x8FFF, 0, 0x78, 0, 0, 0, 0},
        {6, 0, 0, 0, 0x8000, 0, 960, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {9, 0, 0, 0, 0x8095, 0, 4, 0x0F00, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {2, 0, 0, 0, 0x8000, 0, 0, 270, 0xFF, 0xFF, 0xFF, 3, 3, 3},
        {3, 1, 1, 1, 0x8000, 0, 0, 0x4FFF, 0xFF, 0xFF, 0xFF, 3, 3, 3},
    };
    for (int n = 1; n <= 22; ++n) {   // 21 and 22 are patterns 1 and 2 again
        SCOPED_TRACE(n);
        ASSERT_TRUE(pattern(n));
        const std::vector<uint32_t> &regs = table[(n - 1) % 20];
        EXPECT_EQ(generator(*chip, 0), regs);
        EXPECT_EQ(generator(*chip, 1), regs);
        EXPECT_EQ(generator(*chip, 2), std::vector<uint32_t>(14, 0));
        EXPECT_EQ(m->zemApi_IsPatternGen(), 1);
        EXPECT_EQ(chip->reg(0x08, 0x48), 0);   // the background gives way to the pattern
    }
    EXPECT_EQ(chip->reg(0x00, 0x22), 0x99);   // register updates released again

    // A flat colour starts its generator after the control word.
    m->gWininfo[0].w = 3840;
    const uint64_t mark = chip->mark();
    ASSERT_TRUE(pattern(4));
    EXPECT_EQ(chip->value(0x085B02), 0x8000u);   // wide window
    std::vector<uint8_t> order;
    for (const SimC331::Frame &f : chip->framesSince(mark))
        if (f.write && f.bank == 0x08 && f.value && (f.sub == 0x57 || f.sub == 0x5C))
            order.push_back(f.sub);
    EXPECT_EQ(order, (std::vector<uint8_t>{0x5C, 0x57}));
}

TEST_F(PatternTest, PatternZeroClearsTheGeneratorAndBringsBackTheBackground)
{
    ASSERT_TRUE(pattern(1));
    ASSERT_TRUE(pattern(0));
    for (int c : {0, 1})
        EXPECT_EQ(generator(*chip, c), std::vector<uint32_t>(14, 0)) << c;
    EXPECT_EQ(m->zemApi_IsPatternGen(), 0);
    EXPECT_EQ(chip->value(0x084801), 1u);   // window 0 has no signal
}

// With two windows a pattern is refused, but switching it off always works,
// so that the input checks resume.
TEST_F(PatternTest, TwoWindowsRefuseAPatternButNotItsEnd)
{
    ASSERT_TRUE(pattern(2));
    show(1, 2, {2});
    m->gMwin.count = 2;
    uint64_t mark = chip->mark();
    EXPECT_EQ(m->c331_SetPattern(3), -1);
    EXPECT_TRUE(chip->framesSince(mark).empty());

    ASSERT_TRUE(pattern(0));
    EXPECT_EQ(m->zemApi_IsPatternGen(), 0);
    for (int c : {0, 1})
        EXPECT_EQ(generator(*chip, c), std::vector<uint32_t>(14, 0)) << c;
    mark = chip->mark();
    m->clear_calls();
    m->setup_state = 8;
    m->run_turn();
    bool measured = false;
    for (const SimC331::Frame &f : chip->framesSince(mark))
        measured = measured || (!f.write && f.bank == 0xAE);
    EXPECT_TRUE(measured) << "input checks resumed";
}

TEST_F(PatternTest, BackgroundFollowsSignalDotByDotForcedColourAndBlackOutput)
{
    show(1, 1, {2});
    show(2, 2, {3});
    show(3, 1, {4});
    m->PM_WIN_DBD_MODE[3] = 1;
    plug("1 1920x1080@60");   // port 2 has a signal
    turn();
    auto on = [&](int c) { return chip->value(0x084801, 16 * c); };
    auto colour = [&](int c) { return chip->value(0x084903, 16 * c); };

    m->set_input_bkg(m->c331_fd, 1, 0);   // port 1 has no signal
    EXPECT_EQ((std::vector<uint32_t>{on(0), on(1), on(2), on(4)}), (std::vector<uint32_t>{1, 1, 1, 0}));
    m->set_input_bkg(m->c331_fd, 2, 0);
    EXPECT_EQ(on(3), 0u);
    m->set_input_bkg(m->c331_fd, 2, 1);
    EXPECT_EQ(on(3), 1u);

    m->set_input_bkg2(m->c331_fd, 2, 0);
    EXPECT_EQ(on(3), 0u);
    m->gWininfo[2].outmode = 1;   // blacked out
    m->set_input_bkg2(m->c331_fd, 2, 0);
    EXPECT_EQ(on(3), 1u);

    g_force_bkcolor = 1;
    m->gWininfo[2].outmode = 0;
    m->set_input_bkg2(m->c331_fd, 2, 0);
    m->set_input_bkg(m->c331_fd, 1, 0);
    EXPECT_EQ((std::vector<uint32_t>{on(3), colour(3), on(4), colour(4)}),
              (std::vector<uint32_t>{1, 0xFF00, 1, 0xFF00}));
}

} // namespace
