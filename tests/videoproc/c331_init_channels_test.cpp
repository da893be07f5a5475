// The fixed per-channel part of the chip's initial register set: every one of
// the eight timing-generator banks gets the same colour matrices and set-up.

#include "setter_fixture.h"

namespace {

using namespace chiptest;

using InitChannelsTest = SetterTest;

TEST_F(InitChannelsTest, EveryChannelGetsTheFixedMatricesAndSetUp)
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

} // namespace
