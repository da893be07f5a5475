// Fixed parts of the chip's initial register set: the clock set-up, the
// colour matrices and set-up that each of the eight timing-generator banks
// gets, and the set-up of the input channels and deinterlacers.

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

// The input channels' set-up: write controls, then for each of the eight
// channels (banks 16 to 86) its buffer set-up and both line pitches at 64;
// the deinterlacers of the four CMOS inputs (banks 14 to 44 and 17 to 47)
// with their motion memory.
TEST_F(InitConstantsTest, InputChannelsAndDeinterlacersGetTheirInitialSetUp)
{
    for (int c = 0; c < 8; ++c)
        chip->setReg(uint8_t(0x16 + 0x10 * c), 0x6B, 0xEE);
    chip->setReg(0x14, 0x22, 0xEE);
    m->write_initial_setting(m->c331_fd, 1);
    const uint32_t writeControl[8] = {0x01, 0x01, 0x01, 0x01, 0x01, 0x0C, 0x01, 0x0E};
    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(testing::Message() << "input channel " << c);
        EXPECT_EQ(onChannel(0x100901, c), writeControl[c]);
        EXPECT_EQ(onChannel(0x166501, c), 0x01u);
        EXPECT_EQ(onChannel(0x166603, c), 0x043210u);
        EXPECT_EQ(onChannel(0x166B01, c), 0x00u);
        EXPECT_EQ(onChannel(0x166C02, c), 0x2103u);
        EXPECT_EQ(onChannel(0x163001, c), 64u);
        EXPECT_EQ(onChannel(0x163101, c), 64u);
    }
    const uint32_t motionMemory[4] = {0x65CEA000, 0x67BA2800, 0x69A5B000, 0x6B913800};
    static const uint32_t deinterlacer[][2] = {{0x140D02, 0x0010}, {0x141601, 0x01}, {0x141701, 0x01},
                                               {0x141801, 0x02},   {0x141901, 0x08}, {0x142201, 0x00},
                                               {0x142301, 0x11},   {0x175801, 35}};
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(testing::Message() << "CMOS input " << c);
        for (const auto &r : deinterlacer)
            EXPECT_EQ(onChannel(r[0], c), r[1]) << std::hex << r[0];
        EXPECT_EQ(onChannel(0x175B04, c), motionMemory[c]);
    }
}

} // namespace
