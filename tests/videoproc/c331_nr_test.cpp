// Noise reduction and deinterlacer on the simulated chip.

#include "setter_fixture.h"

#include <array>
#include <map>

using namespace chiptest;

namespace {

class NrTest : public SetterTest
{
protected:
    // Input channel `ich` belongs to window slot 0, which shows `port` with
    // the given format.
    void input(int ich, int port, int state, bool interlaced, ST_ACT act)
    {
        m->ich_owner[ich] = 0;
        m->PM_INPUT[0] = port;
        m->PI_STATE[port] = state;
        m->PI_PORT_INFO[port].IP = interlaced ? 1 : 0;
        m->PI_ACT[port] = act;
    }
    void levels(int port, int h, int v, int t, int b, int mq)
    {
        m->PM_HNR[port] = h;
        m->PM_VNR[port] = v;
        m->PM_TNR[port] = t;
        m->PM_BNR[port] = b;
        m->PM_MNR[port] = mq;
    }
    uint32_t ich(uint32_t descriptor, int c) const { return chip->value(descriptor, 16 * c); }
    // Bytes written since `mark` to registers of bank `bank` from `first` to `last`.
    size_t writesTo(uint64_t mark, uint8_t bank, uint8_t first, uint8_t last) const
    {
        size_t n = 0;
        for (const SimC331::Frame &f : chip->framesSince(mark))
            n += f.write && !f.select && f.bank == bank && f.sub >= first && f.sub <= last;
        return n;
    }
    void expectRegs(int c, std::initializer_list<std::pair<uint32_t, uint32_t>> regs)
    {
        for (const auto &r : regs)
            EXPECT_EQ(ich(r.first, c), r.second) << std::hex << r.first;
    }
    // The deinterlacer's eight frame addresses (the set of four twice), its
    // line offset and its interlaced switch.
    void expectMemory(int c, const std::array<uint32_t, 4> &set, uint32_t lineOffset, uint32_t interlaced)
    {
        const uint8_t subs[8] = {0x18, 0x1C, 0x20, 0x24, 0x08, 0x0C, 0x10, 0x14};
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(chip->value(uint8_t(0x17 + 16 * c), subs[k], 4), set[k % 4]) << k;
        EXPECT_EQ(ich(0x175902, c), lineOffset);
        EXPECT_EQ(ich(0x165B01, c), interlaced);
    }
    // Bytes written since `mark` to bank `bank`, by sub-address, in order.
    using Writes = std::map<uint8_t, std::vector<uint32_t>>;
    Writes writesIn(uint64_t mark, uint8_t bank) const
    {
        Writes out;
        for (const SimC331::Frame &f : chip->framesSince(mark))
            if (f.write && !f.select && f.bank == bank)
                out[f.sub].push_back(f.value);
        return out;
    }
    // Expected writes of registers (sub-address, width, little-endian value).
    struct Reg {
        uint8_t sub;
        int width;
        uint32_t value;
    };
    static Writes writes(std::initializer_list<Reg> regs)
    {
        Writes out;
        for (const Reg &r : regs)
            for (int i = 0; i < r.width; ++i)
                out[uint8_t(r.sub + i)].push_back((r.value >> (8 * i)) & 0xFF);
        return out;
    }
    // Adds writes of one-byte registers from `sub` on.
    static void run(Writes &w, uint8_t sub, const std::vector<uint32_t> &values)
    {
        for (uint32_t v : values)
            w[sub++].push_back(v);
    }
    size_t calls(const std::string &text) const
    {
        auto v = texts(*m);
        return size_t(std::count(v.begin(), v.end(), text));
    }
};

TEST_F(NrTest, InterlacedInputGetsTheDeinterlacerAndItsFormatsPresets)
{
    const int c = 1, p = 2;
    input(c, p, 5, true, ST_ACT{192, 1920, 20, 540});   // 1080i at 59.94 Hz
    levels(p, 0, 0, 0, 1, 0);
    m->PM_IPEN[p] = 1;
    m->PM_22PD[p] = 1;
    m->PM_24SF[p] = 1;
    m->PM_22PDSQTH[p] = 2;
    m->PM_23PDSQTH[p] = 5;
    m->PM_COMB[p] = 3;
    m->PM_DIAG[p] = 2;
    m->PM_MVFLT[p] = 4;
    chip->setInputChannelCounts(c, 240, 562);

    m->set_ip(m->c331_fd, c);
    // Two waits for channel 1's vertical sync, then the held measurement.
    EXPECT_EQ(chip->writeHistory(0x05, 0x08), (std::vector<uint8_t>{0x02, 0x00, 0x02, 0x00}));
    EXPECT_EQ(m->PI_IFH[p], 240);
    EXPECT_EQ(m->PI_IFV[p], 562);
    EXPECT_EQ(chip->writeHistory(0x00, 0x29), (std::vector<uint8_t>{0x80, 0x00, 0x80, 0x00, 0x80, 0x00}));
    expectRegs(c, {
        // The frame from the measured counts and the active rectangle.
        {0x140802, 152}, {0x140A02, (562 + 16) * 2}, {0x146D02, ((153 * 3 / 4) & 0x3FFF) | 0x8000},
        {0x140C01, 1}, {0x140F02, 1920}, {0x141302, 1080}, {0x141102, 40 | 0x8000},
        // 1080i film and pull-down detection, the filters, the 1080i mode.
        {0x142E01, 26}, {0x143101, 142}, {0x143501, 193}, {0x142C01, 51 + 64}, {0x142D01, 25},
        {0x143001, 5 + 32}, {0x141501, 31}, {0x141D01, 31}, {0x145001, 11}, {0x145F01, 50},
        {0x143C01, 112}, {0x142A01, 0}, {0x146701, 8}, {0x146801, 4},
        // The 1080i block preset; an interlaced input keeps the NR enable off.
        {0x153902, 8855}, {0x154D02, 384}, {0x155402, 384}, {0x156A01, 48}, {0x150801, 0},
    });
    // Fields one line (3 x 1024 bytes) apart in channel 1's interlaced buffers.
    const uint32_t i0 = 0x66EB8800, i1 = 0x671F1800, o = 3 * 1024;
    expectMemory(c, {o + i0, i0, o + i1, i1}, 207, 1);
}

TEST_F(NrTest, Progressive1080pInputGetsTheBlockPresetAndProgressiveMemory)
{
    const int c = 0, p = 3;
    input(c, p, 4, false, ST_ACT{192, 1920, 41, 1080});
    levels(p, 0, 0, 0, 2, 0);
    chip->setInputChannelCounts(c, 240, 1125);

    m->set_ip(m->c331_fd, c);
    expectRegs(c, {
        {0x140802, 272}, {0x141302, 1080}, {0x141102, 41 | 0x8000}, {0x142A01, 16}, {0x146701, 0},
        // Level 2 of the 1080p preset, and the block filter enabled.
        {0x153902, 8855}, {0x153B01, 160}, {0x154001, 16}, {0x154101, 66}, {0x154401, 16},
        {0x154D02, 384}, {0x154F02, 96}, {0x155402, 768}, {0x155602, 192}, {0x156A01, 36}, {0x156901, 8},
        {0x150801, 3},
    });
    const uint32_t p0 = 0x65717000, p1 = 0x65000000;
    expectMemory(c, {p0, p1, p0, p1}, 0, 0);
}

TEST_F(NrTest, ProgressiveInputWithoutNoiseReductionOnlySwitchesItOff)
{
    const int c = 2, p = 1;
    input(c, p, 4, false, ST_ACT{0, 1280, 0, 720});
    levels(p, 0, 0, 0, 0, 0);
    chip->setReg(0x35, 0x70, 0x5A);
    chip->setReg(0x35, 0x08, 3);
    m->set_ip(m->c331_fd, c);
    EXPECT_TRUE(chip->writeHistory(0x05, 0x08).empty()) << "no wait for a vertical sync";
    EXPECT_EQ(ich(0x157001, c), 0u);
    EXPECT_EQ(ich(0x150801, c), 0u);
    EXPECT_EQ(ich(0x153902, c), 0u);
    EXPECT_EQ(ich(0x171804, c), 0x69488000u);
}

// A channel whose window shows no port (or that no window owns) reads as
// no signal instead of indexing past the port tables.
TEST_F(NrTest, ChannelWithoutAPortIsSwitchedOff)
{
    for (int owner : {0, -1}) {
        m->ich_owner[3] = owner;
        m->PM_INPUT[0] = -1;
        chip->setReg(0x45, 0x08, 3);
        m->set_ip(m->c331_fd, 3);
        EXPECT_EQ(ich(0x150801, 3), 0u);
        EXPECT_EQ(ich(0x165B01, 3), 0u);
    }
}

TEST_F(NrTest, BlockPresetNeedsAKnownHeightAndLevel)
{
    const struct {
        int32_t height, level;
        bool written;
    } cases[] = {{288, 1, false}, {1080, 4, false}, {720, 3, true}, {240, 1, true}};
    for (const auto &k : cases) {
        SCOPED_TRACE(k.height);
        input(0, 3, 4, false, ST_ACT{0, 720, 0, k.height});
        levels(3, 0, 0, 0, k.level, 0);
        const uint64_t mark = chip->mark();
        m->set_nr_block(m->c331_fd, 0, 3);
        EXPECT_EQ(writesTo(mark, 0x15, 0x08, 0x6A) > 0, k.written);
    }
}

// The block presets of every format at every level, register by register.
TEST_F(NrTest, BlockPresetsOfEveryFormatAndLevel)
{
    // Level part; 0x3C to 0x3F are 64, 80, 96, 128 at every level.
    const struct {
        uint32_t r39, r3b, r40, r41, r42, r43, r44;
    } level[3] = {{8855, 144, 32, 132, 65, 6, 16}, {8855, 160, 16, 66, 51, 4, 16}, {3223, 176, 16, 66, 51, 4, 6}};
    const struct {
        int32_t height;
        uint32_t enable, f1, f2, f3, f4, f5;
    } format[] = {
        {240, 0, 64, 16, 64, 16, 8},        // 480i
        {480, 3, 64, 16, 128, 32, 6},       // 480p
        {720, 3, 171, 43, 342, 86, 16},     // 720p
        {540, 0, 384, 96, 384, 96, 48},     // 1080i
        {1080, 3, 384, 96, 768, 192, 36},   // 1080p
    };
    for (const auto &f : format)
        for (int l = 1; l <= 3; ++l) {
            SCOPED_TRACE(testing::Message() << "height " << f.height << " level " << l);
            input(1, 3, 4, false, ST_ACT{0, 720, 0, f.height});
            levels(3, 0, 0, 0, l, 0);
            const auto &v = level[l - 1];
            const Writes expected = writes({
                {0x08, 1, f.enable}, {0x39, 2, v.r39}, {0x3B, 1, v.r3b}, {0x3C, 1, 64}, {0x3D, 1, 80},
                {0x3E, 1, 96}, {0x3F, 1, 128}, {0x40, 1, v.r40}, {0x41, 1, v.r41}, {0x42, 1, v.r42},
                {0x43, 1, v.r43}, {0x44, 1, v.r44},
                {0x45, 1, 64}, {0x46, 2, 0} /* 0x46, 0x47 */, {0x48, 1, 6}, {0x49, 1, 4}, {0x4A, 1, 64}, {0x4B, 1, 18},
                {0x4C, 1, 16}, {0x4D, 2, f.f1}, {0x4F, 2, f.f2}, {0x51, 1, 64}, {0x52, 1, 18}, {0x53, 1, 16},
                {0x54, 2, f.f3}, {0x56, 2, f.f4}, {0x58, 4, 0} /* 0x58 to 0x5B */, {0x5C, 2, 0}, {0x5E, 2, 0},
                {0x60, 2, 0}, {0x62, 2, 0}, {0x64, 1, 18}, {0x65, 2, 0} /* 0x65, 0x66 */, {0x67, 2, 0},
                {0x69, 1, 8}, {0x6A, 1, f.f5},
            });
            const uint64_t mark = chip->mark();
            m->set_nr_block(m->c331_fd, 1, 3);
            EXPECT_EQ(writesIn(mark, 0x25), expected);
        }
}

// The interlaced formats' deinterlacer registers, with the pull-down and
// film settings of the port; other formats write none.
TEST_F(NrTest, DeinterlacerRegistersOfEachInterlacedFormat)
{
    const struct {
        int32_t state;
        std::vector<uint32_t> r2e, r31, r42;   // runs from 0x2E, 0x31 and 0x42
        int32_t pd22, pd23, sf24, th22, th23;
        uint32_t r2c, r2d, r30;
    } cases[] = {
        {5, {26, 16}, {142, 6, 128, 192, 193, 193, 193, 0, 193, 193}, {68, 0, 3, 0, 0, 2, 15, 0, 0},
         1, 0, 0, 2, 5, 51 + 64, 9, 5 + 32},
        {6, {26, 16}, {142, 6, 128, 192, 0, 0, 0, 0, 0, 0}, {68, 0, 3, 0, 0, 2, 15, 0, 0},
         0, 0, 1, 0, 0, 51, 25, 0},
        {7, {13, 3}, {53, 2, 128, 40, 196, 196, 196, 196, 194, 194}, {70, 0, 3, 0, 0, 0, 9, 0, 0},
         1, 1, 0, 1, 1, 50 + 64 + 128, 9, 1 + 16},
        {8, {13, 3}, {69, 2, 128, 40, 0, 0, 0, 0, 0, 0}, {70, 0, 3, 0, 0, 0, 9, 0, 0},
         0, 1, 1, 3, 4, 50 + 128, 25, 4 + 48},
    };
    const int p = 2;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.state);
        m->PI_STATE[p] = c.state;
        m->PM_22PD[p] = c.pd22;
        m->PM_23PD[p] = c.pd23;
        m->PM_24SF[p] = c.sf24;
        m->PM_22PDSQTH[p] = c.th22;
        m->PM_23PDSQTH[p] = c.th23;
        Writes expected = writes({{0x2C, 1, c.r2c}, {0x2D, 1, c.r2d}, {0x30, 1, 17}});
        run(expected, 0x2E, c.r2e);
        expected[0x30].push_back(c.r30);   // the thresholds come last
        run(expected, 0x31, c.r31);
        run(expected, 0x42, c.r42);
        const uint64_t mark = chip->mark();
        m->set_ipregs(m->c331_fd, 3, p);
        EXPECT_EQ(writesIn(mark, 0x44), expected);
    }
    for (int32_t state : {4, 9}) {
        m->PI_STATE[p] = state;
        const uint64_t mark = chip->mark();
        m->set_ipregs(m->c331_fd, 3, p);
        EXPECT_TRUE(chip->framesSince(mark).empty()) << state;
    }
}

// Temporal noise reduction and diagonal interpolation, whole levels.
TEST_F(NrTest, TemporalAndDiagonalLevelsWriteTheirWholeColumn)
{
    const int p = 3;
    input(0, p, 4, false, ST_ACT{0, 1920, 0, 1080});
    const std::vector<uint32_t> temporal[3] = {
        {18, 20, 24, 27, 28, 29}, {17, 18, 20, 22, 24, 26}, {0, 8, 12, 16, 20, 24}};
    const std::vector<uint32_t> diag[3] = {
        {9, 255, 119, 0, 4, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 50},
        {11, 127, 119, 3, 4, 16, 1, 4, 10, 20, 4, 4, 2, 2, 16, 50},
        {11, 127, 119, 19, 9, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 49},
    };
    for (int32_t level : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(level);
        const bool on = level >= 1 && level <= 3;
        Writes t = writes({{0x08, 1, on ? 3u : 0u}});
        Writes d;
        if (on) {
            run(t, 0x09, {49, 117, 185, 253});
            run(t, 0x0D, temporal[level - 1]);
            run(t, 0x13, {level == 1 ? 30u : 28u, 31});
            run(d, 0x50, diag[level - 1]);
            run(d, 0x60, {0, 0, 0, 0});
        } else {
            run(d, 0x50, std::vector<uint32_t>(16, 0));
        }
        m->PM_TNR[p] = level;
        m->PM_DIAG[p] = level;
        uint64_t mark = chip->mark();
        m->set_nr_tpx(m->c331_fd, 0, p);
        EXPECT_EQ(writesIn(mark, 0x12), t);
        mark = chip->mark();
        m->set_diag(m->c331_fd, 0, p);
        EXPECT_EQ(writesIn(mark, 0x14), d);
    }
}

TEST_F(NrTest, FilterLevelsWriteTheirTables)
{
    const int p = 3;
    input(0, p, 4, false, ST_ACT{0, 1920, 0, 1080});
    struct Case {
        int32_t *level;
        int32_t value;
        void (c331_manage::*set)(int, int, int);
        std::vector<std::pair<uint32_t, uint32_t>> regs;
    };
    const Case cases[] = {
        {&m->PM_MNR[p], 2, &c331_manage::set_nr_mosq, {{0x150901, 1}, {0x151001, 127}, {0x151D01, 63}, {0x151F01, 255}}},
        {&m->PM_MNR[p], 1, &c331_manage::set_nr_mosq, {{0x151701, 63}, {0x152101, 36}, {0x152901, 81}}},
        {&m->PM_HNR[p], 2, &c331_manage::set_nr_hvpx, {{0x156B01, 1}, {0x156E01, 117}, {0x156F01, 201}, {0x156C01, 0}}},
        {&m->PM_MVFLT[p], 2, &c331_manage::set_mvflt, {{0x141501, 31}, {0x141A01, 8}, {0x141C01, 8}, {0x141D01, 16}, {0x142101, 16}}},
        {&m->PM_COMB[p], 1, &c331_manage::set_comb, {{0x143B01, 1}, {0x143C01, 16}, {0x143D01, 128}}},
        {&m->PM_COMB[p], 0, &c331_manage::set_comb, {{0x143B01, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.regs.front().first << " level " << c.value);
        *c.level = c.value;
        (m.get()->*c.set)(m->c331_fd, 0, p);
        for (const auto &r : c.regs)
            EXPECT_EQ(ich(r.first, 0), r.second) << std::hex << r.first;
    }
}

// The mosquito filter's whole preset of each level on channel 0 (bank 0x15),
// over registers that held something else before.
TEST_F(NrTest, MosquitoPresetOfEachLevelWritesItsWholeTable)
{
    const int p = 3;
    input(0, p, 4, false, ST_ACT{0, 1920, 0, 1080});
    std::map<uint8_t, std::array<uint32_t, 3>> table = {
        {0x09, {1, 1, 1}},       {0x1C, {252, 252, 252}}, {0x1D, {32, 63, 255}}, {0x1E, {213, 217, 217}},
        {0x1F, {127, 255, 111}}, {0x20, {24, 24, 0}},     {0x21, {36, 0, 0}},    {0x28, {64, 64, 0}},
        {0x29, {81, 0, 0}},
    };
    for (uint8_t sub : {0x0A, 0x0D})
        table[sub] = {128, 128, 128};
    for (uint8_t sub : {0x0B, 0x0E})
        table[sub] = {56, 56, 56};
    for (uint8_t sub : {0x0C, 0x0F})
        table[sub] = {8, 8, 8};
    for (uint8_t sub : {0x10, 0x11, 0x16, 0x17})
        table[sub] = {63, 127, 127};
    for (uint8_t sub : {0x12, 0x13, 0x14, 0x15, 0x18, 0x19, 0x1A, 0x1B})
        table[sub] = {127, 127, 127};
    for (uint8_t sub : {0x22, 0x23, 0x24, 0x25, 0x26, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E})
        table[sub] = {0, 0, 0};
    for (int level = 1; level <= 3; ++level) {
        SCOPED_TRACE(level);
        for (const auto &r : table)
            chip->setReg(0x15, r.first, 0xEE);
        m->PM_MNR[p] = level;
        m->set_nr_mosq(m->c331_fd, 0, p);
        for (const auto &r : table)
            EXPECT_EQ(chip->reg(0x15, r.first), r.second[level - 1]) << std::hex << int(r.first);
    }
}

TEST_F(NrTest, ProcessingModeOfAWindowsInputChannels)
{
    m->PM_INPUT[0] = 3;
    m->PI_STATE[3] = 4;
    m->PM_BNR[3] = 1;
    m->win_ich[0][0] = 2;
    m->win_ich[0][1] = 3;
    m->set_mct(m->c331_fd, 0, 1);
    EXPECT_EQ(chip->reg(0x00, 0x0A), 17 + 14);
    EXPECT_EQ(ich(0x100901, 2), 1u);
    EXPECT_EQ(chip->reg(0x00, 0x0B), 17);
    EXPECT_EQ(ich(0x100901, 3), 2u + 8);
    EXPECT_EQ(ich(0x150801, 2), 3u);
    EXPECT_EQ(m->nren_old[3], 2);

    // An unchanged NR enable is not written again.
    chip->setReg(0x35, 0x08, 0);
    m->set_mct(m->c331_fd, 0, 1);
    EXPECT_EQ(ich(0x150801, 2), 0u);

    // First pass over an interlaced input: the channel is unlinked, the NR
    // enable is recorded but left to the deinterlacer set-up.
    m->PM_BNR[3] = 0;
    m->PI_PORT_INFO[3].IP = 1;
    chip->setReg(0x35, 0x08, 5);
    m->set_mct(m->c331_fd, 0, 0);
    EXPECT_EQ(chip->reg(0x00, 0x0A), 17 + 14);
    EXPECT_EQ(ich(0x100901, 2), 0u);
    EXPECT_EQ(m->nren_old[3], 0);
    EXPECT_EQ(ich(0x150801, 2), 5u);

    // A V-by-One window (dot-by-dot on both receivers) on channels 4 and 5.
    m->PM_WIN_DBD_MODE[1] = 50;
    m->PI_STATE[4] = 0;
    m->win_ich[1][0] = 4;
    m->win_ich[1][1] = 5;
    m->set_mct(m->c331_fd, 1, 1);
    EXPECT_EQ(chip->reg(0x00, 0x0C), 1);
    EXPECT_EQ(ich(0x100901, 4), 1u);
    EXPECT_EQ(ich(0x100901, 5), 12u);

    // No port, no channels: nothing written.
    m->PM_INPUT[2] = 6;
    m->win_ich[2][0] = 6;
    const uint64_t mark = chip->mark();
    m->set_mct(m->c331_fd, 2, 1);
    m->PM_INPUT[2] = 1;
    m->win_ich[2][0] = -1;
    m->set_mct(m->c331_fd, 2, 1);
    EXPECT_EQ(chip->framesSince(mark).size(), 0u);
}

} // namespace
