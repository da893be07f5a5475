// A card frame sent to the simulated FPGA whose length word claims more bytes
// than the message carries is logged with the bytes that were sent, no more.

#include "platform/sim_fpga.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using platform::simfpga::OpKind;
using platform::simfpga::SimFpga;

TEST(SimFpgaFrames, FrameLongerThanItsMessageKeepsTheBytesSent)
{
    SimFpga fpga;
    // 20 pp lh ll: 16 bytes announced, 2 sent; the byte after the message is not part of it.
    const uint8_t buffer[] = {0x20, 0x01, 0x00, 0x10, 0xA1, 0xA2, 0xEE};
    platform::spi::Xfer x;
    x.tx = buffer;
    x.len = 6;
    fpga.transfer(x);
    ASSERT_EQ(fpga.ops().size(), 1u);
    EXPECT_EQ(fpga.ops()[0].kind, OpKind::CardFrame);
    EXPECT_EQ(fpga.ops()[0].data, (std::vector<uint8_t>{0xA1, 0xA2}));
}

} // namespace
