// What the simulated devices record is bounded: a long run keeps the newest
// records, so that a soak of the program measures the program.

#include "platform/hid.h"
#include "platform/i2c.h"
#include "platform/mtd.h"
#include "platform/shell.h"
#include "platform/sim_c331.h"
#include "platform/sim_fpga.h"
#include "platform/uevent.h"
#include "support/temp_root.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

TEST_F(SimRecords, RegisterHistoryKeepsTheNewestValues)
{
    platform::i2c::sim::RegisterDevice dev;
    const size_t limit = platform::i2c::sim::RegisterDevice::HISTORY_LIMIT;
    for (size_t k = 0; k < limit + 5; ++k) {
        const uint8_t msg[] = {0x10, uint8_t(k)};
        dev.write(msg, sizeof msg);
    }
    const std::vector<uint8_t> h = dev.history(0x10);
    ASSERT_EQ(h.size(), limit);
    EXPECT_EQ(h.front(), 5);
    EXPECT_EQ(h.back(), uint8_t(limit + 4));
}

TEST_F(SimRecords, KeypadKeepsTheNewestReports)
{
    namespace hid = platform::hid;
    hid::sim::reset();
    hid::sim::setPresent(true);
    hid::Handle *h = hid::open(0x28E9, 0x0380);
    ASSERT_NE(h, nullptr);
    for (size_t k = 0; k < hid::sim::REPORT_LIMIT + 2; ++k) {
        const uint8_t report[] = {0, uint8_t(k), uint8_t(k >> 8)};
        ASSERT_EQ(hid::write(h, report, sizeof report), 3);
    }
    const auto reports = hid::sim::reports();
    ASSERT_EQ(reports.size(), hid::sim::REPORT_LIMIT);
    EXPECT_EQ(reports.front(), (std::vector<uint8_t>{0, 2, 0}));
    hid::sim::reset();
}

TEST_F(SimRecords, FlashPartitionKeepsTheNewestRequests)
{
    namespace mtd = platform::mtd;
    mtd::sim::reset();
    const size_t n = mtd::sim::LOG_LIMIT + 1;
    for (size_t k = 0; k < n; ++k) {
        const int fd = mtd::open("/dev/mtd8");
        ASSERT_GE(fd, 0);
        mtd::close(fd);
    }
    const std::vector<mtd::sim::Request> log = mtd::sim::log();
    EXPECT_EQ(log.size(), mtd::sim::LOG_LIMIT);
    mtd::sim::reset();
}

// The shell log file keeps its newer half once past its limit, whole lines
// in order, the last command last.
TEST_F(SimRecords, ShellLogFileKeepsTheNewestCommands)
{
    namespace shell = platform::shell;
    shell::sim::clearLog();
    const std::string filler(999, 'x');
    const size_t n = shell::sim::LOG_FILE_LIMIT / 1000 + 10;   // lines of 1000 bytes
    for (size_t k = 0; k < n; ++k)
        shell::run(std::to_string(100000 + k) + filler);
    struct stat st;
    ASSERT_EQ(::stat(shell::sim::logFile().c_str(), &st), 0);
    EXPECT_LE(size_t(st.st_size), shell::sim::LOG_FILE_LIMIT);
    const std::vector<std::string> log = shell::sim::log();
    ASSERT_GE(log.size(), shell::sim::LOG_FILE_LIMIT / 2 / 1000);
    for (size_t i = 0; i < log.size(); ++i)
        ASSERT_EQ(log[i], std::to_string(100000 + n - log.size() + i) + filler) << i;
}

// A line of the event FIFO longer than a message is cut, the rest of it
// dropped; the next line arrives whole.
TEST_F(SimRecords, EventFifoCutsALineLongerThanAMessage)
{
    namespace uevent = platform::uevent;
    std::unique_ptr<uevent::Source> src = uevent::open(0, 1, 1 << 16);
    ASSERT_TRUE(src);
    const int fifo = ::open(uevent::sim::fifoPath().c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    const std::string text = std::string(20000, 'x') + "\nadd@/devices/usb1\n";
    ASSERT_EQ(::write(fifo, text.data(), text.size()), ssize_t(text.size()));
    ::close(fifo);
    std::vector<char> buf(1 << 16);
    EXPECT_EQ(src->receive(buf.data(), buf.size(), 2000), 8192);
    const int n = src->receive(buf.data(), buf.size(), 2000);
    EXPECT_EQ(std::string(buf.data(), size_t(std::max(n, 0))), "add@/devices/usb1");
}

} // namespace
