// What the simulated devices record is bounded: a long run keeps the newest
// records, so that a soak of the program measures the program.

#include "platform/sim_c331.h"
#include "platform/sim_fpga.h"
#include "support/temp_root.h"

#include <string>
#include <vector>

namespace {

using platform::sim::SimC331;
using platform::simfpga::SimFpga;

class SimRecords : public zemtest::RootTest
{
};

void send(platform::spi::sim::Device &d, std::vector<uint8_t> tx)
{
    platform::spi::Xfer x;
    x.tx = tx.data();
    x.len = uint32_t(tx.size());
    d.transfer(x);
}

TEST_F(SimRecords, FpgaKeepsTheNewestOperations)
{
    SimFpga fpga;
    const size_t n = SimFpga::LOG_LIMIT + 3;
    for (size_t k = 0; k < n; ++k)
        send(fpga, {0x00, 7, uint8_t(k)});
    const std::vector<platform::simfpga::Op> ops = fpga.ops();
    ASSERT_EQ(ops.size(), SimFpga::LOG_LIMIT);
    EXPECT_EQ(ops.front().data, std::vector<uint8_t>{3});   // writes 0 to 2 dropped
    EXPECT_EQ(ops.back().data, std::vector<uint8_t>{uint8_t(n - 1)});
}

// Frames, filter-table loads, flash and engine operations: each kept to
// the limit the chip is given.
TEST_F(SimRecords, ChipKeepsAsManyOfEachRecordAsItIsTold)
{
    SimC331 chip;
    chip.setRecordLimit(8);
    for (uint8_t k = 0; k < 10; ++k) {
        send(chip, {0x80, 0x00, 0x80 | SimC331::LUT_TABLE_SUB, k, 0x80 | SimC331::LUT_DEST_SUB, 1});
        send(chip, {0x80, 0x04, 0x80 | 0x53, 0x01, 0x80 | 0x08, 0x01});   // a flash read, an engine fill
    }
    const std::vector<SimC331::Frame> log = chip.log();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log.back().seq, chip.mark() - 1);
    const std::vector<SimC331::FilterLoad> loads = chip.filterLoads();
    ASSERT_EQ(loads.size(), 8u);
    EXPECT_EQ(loads.front().table, 2);   // tables 0 and 1 dropped
    EXPECT_EQ(chip.flash().ops().size(), 8u);
    EXPECT_EQ(chip.engine().ops().size(), 8u);
}

} // namespace
