// Noise reduction and deinterlacer on the simulated chip.

#include "setter_fixture.h"

#include <array>

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
    EXPECT_EQ(ich(0x150801, 0), 0u);   // 480i preset: NR enable 0
    EXPECT_EQ(ich(0x156A01, 0), 8u);
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
        {&m->PM_TNR[p], 1, &c331_manage::set_nr_tpx, {{0x120801, 3}, {0x120D01, 18}, {0x121301, 30}, {0x121401, 31}}},
        {&m->PM_TNR[p], 3, &c331_manage::set_nr_tpx, {{0x120D01, 0}, {0x121201, 24}, {0x121301, 28}}},
        {&m->PM_TNR[p], 4, &c331_manage::set_nr_tpx, {{0x120801, 0}}},
        {&m->PM_MNR[p], 2, &c331_manage::set_nr_mosq, {{0x150901, 1}, {0x151001, 127}, {0x151D01, 63}, {0x151F01, 255}}},
        {&m->PM_MNR[p], 1, &c331_manage::set_nr_mosq, {{0x151701, 63}, {0x152101, 36}, {0x152901, 81}}},
        {&m->PM_HNR[p], 2, &c331_manage::set_nr_hvpx, {{0x156B01, 1}, {0x156E01, 117}, {0x156F01, 201}, {0x156C01, 0}}},
        {&m->PM_MVFLT[p], 2, &c331_manage::set_mvflt, {{0x141501, 31}, {0x141A01, 8}, {0x141D01, 16}}},
        {&m->PM_DIAG[p], 3, &c331_manage::set_diag, {{0x145301, 19}, {0x145401, 9}, {0x145F01, 49}}},
        {&m->PM_DIAG[p], 0, &c331_manage::set_diag, {{0x145001, 0}, {0x145F01, 0}}},
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
