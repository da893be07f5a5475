// Fixed parts of the chip's initial register set: the clock set-up, the
// colour matrices and set-up that each of the eight timing-generator banks
// gets, and the input channels' line pitches.

#include "setter_fixture.h"

namespace {

using namespace chiptest;

using InitConstantsTest = SetterTest;

TEST_F(InitConstantsTest, EveryChannelGetsTheFixedMatricesAndSetUp)
{
    m->write_initial_setting(m->c331_fd, 1);
    static const uint32_t expected[][2] = {
        {0x081D02, 0x0040}, {0x090A02, 0x00FF}, {0x091002, 0x00FF}, {0x0B5E01, 0x01},
        {0x0C4902, 0x3265}, {0x0C4B02, 0x2000}, {0x0C4F02, 0xF105}, {0x0C5302, 0xFA02},
        {0x0C5902, 0x3B61}, {0x101001, 0x80},   {0x101101, 0x80},   {0x102801, 0x88},
        {0x102F02, 0x0200}, {0x103302, 0x0200}, {0x103502, 0x4000}, {0x103702, 0xC5DD},
        {0x103902, 0xFA23}, {0x103B02, 0x1B36}, {0x103D02, 0x5B8C}, {0x103F02, 0x093E},
        {0x104102, 0xF155}, {0x104302, 0xCEAB}, {0x104502, 0x4000}, {0x104801, 0x04},
        {0x104901, 0x08},
    };
    for (int c = 0; c < 8; ++c)
        for (const auto &r : expected)
            EXPECT_EQ(onChannel(r[0], c), r[1]) << std::hex << "register 0x" << r[0] << " channel " << c;
}

TEST_F(InitConstantsTest, ClockSetUpRegistersGetTheirFixedValues)
{
    m->write_initial_setting(m->c331_fd, 1);
    for (uint8_t sub = 0x59; sub <= 0x60; ++sub)
        EXPECT_EQ(chip->reg(0x00, sub), 0x11) << std::hex << int(sub);
    for (uint8_t sub = 0x61; sub <= 0x68; ++sub)
        EXPECT_EQ(chip->reg(0x00, sub), 0x18) << std::hex << int(sub);
    EXPECT_EQ(chip->reg(0x00, 0x79), 0x2E);
    EXPECT_EQ(chip->writeHistory(0x00, 0x7A), (std::vector<uint8_t>{0x80, 0x81, 0x84, 0x85, 0x88, 0x89, 0x8C, 0x8D,
                                                                    0x90, 0x91, 0x94, 0x95, 0x98, 0x99, 0x9C, 0x9D}));
}

// Both line-pitch registers of every input channel (banks 16 to 86) start
// at 64, before any window is laid out.
TEST_F(InitConstantsTest, EveryInputChannelStartsWithBothLinePitchesAt64)
{
    m->write_initial_setting(m->c331_fd, 1);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(chip->reg(uint8_t(0x16 + 0x10 * c), 0x30), 64) << "read pitch, channel " << c;
        EXPECT_EQ(chip->reg(uint8_t(0x16 + 0x10 * c), 0x31), 64) << "write pitch, channel " << c;
    }
}

} // namespace
