// Picture quality on the simulated chip: the colour stage, the sharpness
// stage and the end of the forced background.

#include "setter_fixture.h"

#include <cstdint>

using namespace chiptest;

namespace {

class QualityTest : public SetterTest
{
protected:
    // set_rtct(2) comes before and set_rtct(1) after every write since
    // `mark` to the per-channel bank `bank` (any output channel).
    void expectBracketed(uint64_t mark, uint8_t bank)
    {
        uint64_t hold = UINT64_MAX, take = 0;
        std::vector<uint64_t> writes;
        for (const SimC331::Frame &f : chip->framesSince(mark)) {
            if (!f.write || f.select)
                continue;
            if (f.bank == 0x00 && f.sub == 0x22 && f.value == 0xFF && hold == UINT64_MAX)
                hold = f.seq;
            if (f.bank == 0x00 && f.sub == 0x22 && f.value == 0x99)
                take = f.seq;
            if ((f.bank & 0x0F) == bank && f.bank < 0x80)
                writes.push_back(f.seq);
        }
        ASSERT_FALSE(writes.empty());
        EXPECT_LT(hold, writes.front());
        EXPECT_GT(take, writes.back());
    }

    // A window slot whose input has a signal, with 1:1 rectangles unless
    // told otherwise.
    void sharpWindow(int w, int port, std::initializer_list<uint8_t> och, uint8_t across, int32_t inW = 960,
                     int32_t inH = 540, int32_t outW = 960, int32_t outH = 540)
    {
        showWindow(w, port, och, across);
        m->PI_STATE[port] = 4;
        m->IWIN[w] = _ImageWindowDef_st{0, inW, 0, inH};
        m->OWIN[w] = _ImageWindowDef_st{0, outW, 0, outH};
    }

    std::vector<uint32_t> bytesOn(uint32_t first, int count, int och)
    {
        std::vector<uint32_t> out;
        for (int k = 0; k < count; ++k)
            out.push_back(onChannel(first + 0x100u * k, och));
        return out;
    }
};

TEST_F(QualityTest, BrightnessContrastAndSaturationReachEveryOutputChannel)
{
    struct Case {
        void (c331_manage::*set)(uint16_t);
        uint16_t value;
        uint32_t regs[3];
        uint32_t expected;
    };
    const Case cases[] = {
        {&c331_manage::c331_SetBrightness, 0, {0x0C3A02, 0x0C3C02, 0x0C3E02}, 0xC00},
        {&c331_manage::c331_SetBrightness, 49, {0x0C3A02, 0x0C3C02, 0x0C3E02}, 0xFEC},
        {&c331_manage::c331_SetBrightness, 50, {0x0C3A02, 0x0C3C02, 0x0C3E02}, 0},
        {&c331_manage::c331_SetBrightness, 100, {0x0C3A02, 0x0C3C02, 0x0C3E02}, 0x400},
        {&c331_manage::c331_SetBrightness, 150, {0x0C3A02, 0x0C3C02, 0x0C3E02}, 0xFEC},   // modulo 101
        {&c331_manage::c331_SetContrast, 100, {0x0C2802, 0x0C2A02, 0x0C2C02}, 1023},
        {&c331_manage::c331_SetContrast, 50, {0x0C2802, 0x0C2A02, 0x0C2C02}, 511},
        {&c331_manage::c331_SetContrast, 0, {0x0C2802, 0x0C2A02, 0x0C2C02}, 0},
        {&c331_manage::c331_SetSaturation, 100, {0x0C1B02, 0x0C1D02, 0x0C1F02}, 1023},
        {&c331_manage::c331_SetSaturation, 33, {0x0C1B02, 0x0C1D02, 0x0C1F02}, 337},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        for (int n = 0; n < 8; ++n)
            for (uint32_t r : c.regs)
                chip->setReg(uint8_t((r >> 16) + 16 * n), uint8_t(r >> 8), 0x55);
        const uint64_t mark = chip->mark();
        (m.get()->*c.set)(c.value);
        for (int n = 0; n < 8; ++n)
            for (uint32_t r : c.regs)
                EXPECT_EQ(onChannel(r, n), c.expected) << "channel " << n;
        expectBracketed(mark, 0x0C);
        EXPECT_EQ(chip->writeHistory(0x00, 0x22, mark), (std::vector<uint8_t>{0xFF, 0x99}));
    }
}

// The enables are masked writes: the chip's other bits of those registers stay.
TEST_F(QualityTest, ContrastAndSaturationEnablesKeepTheOtherBits)
{
    for (int n = 0; n < 8; ++n) {
        chip->setReg(uint8_t(0x0C + 16 * n), 0x21, 0xA0);
        chip->setReg(uint8_t(0x0C + 16 * n), 0x14, 0x42);
    }
    m->c331_SetContrast(10);
    m->c331_SetSaturation(10);
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(onChannel(0x0C2101, n), 0xA1u);
        EXPECT_EQ(onChannel(0x0C1401, n), 0x43u);
    }
}

TEST_F(QualityTest, ColourTemperatureWritesTheGainsOnTheMatrixDiagonal)
{
    struct Case {
        uint32_t word;
        uint32_t gains[3];
    };
    const Case cases[] = {
        {0x80808000, {8192, 8192, 8192}},   // mode 0, unity bytes: as mode 2
        {0x64C81000, {6400, 12800, 1024}},  // mode 0: byte x 64
        {0x00000001, {8845, 8113, 7056}},
        {0x12345602, {8192, 8192, 8192}},   // presets ignore the bytes
        {0x00000003, {6944, 8282, 10978}},
    };
    for (int k = 0; k < 8; ++k)
        chip->setReg(0x00, uint8_t(0x59 + k), 0x01);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        const uint64_t mark = chip->mark();
        m->c331_SetColorTemp(c.word);
        for (int n = 0; n < 8; ++n)
            for (int e = 0; e < 9; ++e)
                EXPECT_EQ(onChannel(0x0C5B02 + 0x200u * e, n), e % 4 == 0 ? c.gains[e / 4] : 0u) << n << "," << e;
        expectBracketed(mark, 0x0C);
    }
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(chip->reg(0x00, uint8_t(0x59 + k)), 0x21);
}

TEST_F(QualityTest, SharpnessFollowsEachWindowsScalingOnItsOwnChannels)
{
    sharpWindow(0, 3, {0, 1}, 2);                           // 1:1 on channels 0 and 1
    sharpWindow(1, 2, {4}, 1, 640, 360, 1920, 720);         // 3 : 2 zoom on channel 4
    showWindow(2, 1, {6}, 1);                               // no signal: left alone
    m->PI_STATE[1] = 0;
    chip->setReg(0x6B, 0x09, 0x77);

    const uint64_t mark = chip->mark();
    m->c331_SetSharpness(20);
    for (int och : {0, 1}) {
        SCOPED_TRACE(och);
        EXPECT_EQ(onChannel(0x0B0801, och), 6u);
        EXPECT_EQ(onChannel(0x0B1101, och), 6u);
        EXPECT_EQ(bytesOn(0x0B0C01, 5, och), (std::vector<uint32_t>{44, 49, 56, 63, 2}));
        EXPECT_EQ(bytesOn(0x0B1501, 5, och), (std::vector<uint32_t>{44, 50, 56, 0, 0}));
        EXPECT_EQ(onChannel(0x0B0901, och), 128u);
        EXPECT_EQ(onChannel(0x0B1201, och), 128u);
        EXPECT_EQ(onChannel(0x0B5E01, och), 1u);
    }
    EXPECT_EQ(bytesOn(0x0B0C01, 5, 4), (std::vector<uint32_t>{36, 43, 58, 4, 5}));   // h = 3
    EXPECT_EQ(bytesOn(0x0B1501, 5, 4), (std::vector<uint32_t>{28, 45, 5, 0, 0}));    // v = 2
    EXPECT_EQ(onChannel(0x0B0801, 2), 0u);   // not one of window 0's channels
    EXPECT_EQ(chip->reg(0x6B, 0x09), 0x77);
    EXPECT_EQ(chip->writeHistory(0x0C, 0x21, mark), std::vector<uint8_t>{0x01});
    expectBracketed(mark, 0x0B);
}

// The coefficient rows by scaling ratio, each band and its upper edge,
// horizontal and vertical taken apart (input 960 x 540).
TEST_F(QualityTest, SharpnessCoefficientsFollowTheScalingRatioBands)
{
    using Row = std::vector<uint32_t>;
    const Row h25 = {36, 43, 58, 4, 5}, h20 = {30, 42, 0, 7, 0}, h125 = {28, 46, 5, 3, 60}, h0 = {44, 49, 56, 63, 2};
    const Row v25 = {42, 48, 59, 0, 0}, v20 = {34, 47, 0, 0, 0}, v125 = {28, 45, 5, 0, 0}, v0 = {44, 50, 56, 0, 0};
    const struct {
        int32_t outW, outH;   // ratios outW / 960, outH / 540
        Row h, v;
    } cases[] = {
        {2880, 1215, h25, v20},    // 3.0, 2.25
        {2400, 1620, h20, v25},    // 2.5, 3.0
        {2160, 1080, h20, v125},   // 2.25, 2.0
        {1920, 1350, h125, v20},   // 2.0, 2.5
        {1440, 675, h125, v0},     // 1.5, 1.25
        {1200, 810, h0, v125},     // 1.25, 1.5
        {480, 270, h0, v0},        // 0.5, 0.5
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.outW << "x" << c.outH);
        sharpWindow(0, 3, {0}, 1, 960, 540, c.outW, c.outH);
        m->c331_SetSharpness(20);
        EXPECT_EQ(bytesOn(0x0B0C01, 5, 0), c.h);
        EXPECT_EQ(bytesOn(0x0B1501, 5, 0), c.v);
    }
}

// The gain register is one byte: the gain stops at 255 instead of wrapping
// round to 0 at sharpness 30.
TEST_F(QualityTest, SharpnessGainGrowsToTheTopOfItsByte)
{
    sharpWindow(0, 3, {0}, 1);
    const std::pair<uint16_t, uint32_t> cases[] = {{0, 0}, {10, 0}, {15, 64}, {29, 243}, {30, 255}, {100, 255}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        m->c331_SetSharpness(c.first);
        EXPECT_EQ(onChannel(0x0B0901, 0), c.second);
        EXPECT_EQ(onChannel(0x0B1201, 0), c.second);
        EXPECT_EQ(onChannel(0x0B0801, 0), c.second ? 6u : 0u);
        if (c.second == 0) {
            EXPECT_EQ(bytesOn(0x0B0C01, 5, 0), (std::vector<uint32_t>{0, 0, 0, 0, 0}));
        }
    }
}

TEST_F(QualityTest, SharpnessRatiosOfInterlacedAndEmptyWindows)
{
    // An interlaced input counts its field twice: 1080 out of 540 lines is 1:1.
    sharpWindow(0, 3, {0}, 1, 1920, 540, 1920, 1080);
    m->PI_PORT_INFO[3].IP = 1;
    // A window without input size has no ratio: taken as unscaled.
    sharpWindow(1, 2, {1}, 1, 0, 0, 1920, 1080);
    m->c331_SetSharpness(50);
    EXPECT_EQ(bytesOn(0x0B1501, 3, 0), (std::vector<uint32_t>{44, 50, 56}));
    EXPECT_EQ(bytesOn(0x0B0C01, 5, 1), (std::vector<uint32_t>{44, 49, 56, 63, 2}));
    EXPECT_EQ(bytesOn(0x0B1501, 3, 1), (std::vector<uint32_t>{44, 50, 56}));
}

TEST_F(QualityTest, ForcedBackgroundEndsWhereTheWindowsHaveASignal)
{
    g_force_bkcolor = 1;
    for (int n = 0; n < 8; ++n) {
        chip->setReg(uint8_t(0x08 + 16 * n), 0x49, 0x00);
        chip->setReg(uint8_t(0x08 + 16 * n), 0x4A, 0xFF);
        chip->setReg(uint8_t(0x08 + 16 * n), 0x48, 0x01);
    }
    showWindow(0, 3, {0, 1}, 2);
    showWindow(1, 2, {2}, 1);
    showWindow(2, -1, {3}, 1);   // a window without input reads as no signal
    m->PI_PORT_INFO[3].NOSIG = 0;
    m->PI_PORT_INFO[2].NOSIG = 1;

    m->zemApi_forceColorDisable(m->c331_fd);
    EXPECT_EQ(g_force_bkcolor.load(), 2);
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(onChannel(0x084903, n), 0u) << n;
    const uint32_t on[8] = {0, 0, 1, 1, 1, 1, 1, 1};   // channels 4..7 show no window: untouched
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(onChannel(0x084801, n), on[n]) << n;
}

} // namespace
