#include "platform/serial.h"
#include "support/device_process.h"
#include "support/temp_root.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace sim = platform::serial::sim;

class SerialLine : public zemtest::RootTest
{
};

// A long-running simulation keeps only the newest direction records.
TEST_F(SerialLine, DirectionLogKeepsTheNewestRecords)
{
    sim::clearDirectionLog();
    for (size_t k = 0; k < sim::LOG_LIMIT + 3; ++k)
        platform::serial::drain(-1);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    EXPECT_EQ(platform::serial::writeAll(pipe[1], "x", 1), 1);
    ::close(pipe[0]);
    ::close(pipe[1]);

    const std::vector<sim::Record> log = sim::directionLog();
    ASSERT_EQ(log.size(), sim::LOG_LIMIT);
    EXPECT_EQ(log.front().event, sim::Event::Drained);
    EXPECT_EQ(log.back().event, sim::Event::FirstByte);
    sim::clearDirectionLog();
}

// In simulation a serial port is the program's end of a pseudo-terminal
// pair: a file, a FIFO or a host device linked in its place is neither
// opened nor written.
TEST_F(SerialLine, OnlyAPseudoTerminalIsOpenedAsAPort)
{
    zemtest::OutsideDir beside(root);
    zemtest::writeFile(beside.host("file"), "outside");
    zemtest::writeFile(root.host("/dev/plain"), "inside");
    ASSERT_EQ(::mkfifo(root.host("/dev/fifo").c_str(), 0644), 0);
    zemtest::PtyLink pty(root.host("/dev/pty"));
    ASSERT_TRUE(pty.ok());
    const std::pair<std::string, const char *> links[] = {
        {beside.host("file"), "ttyS1"}, {root.host("/dev/plain"), "ttyS2"}, {"/dev/null", "ttyS3"},
        {root.host("/dev/fifo"), "ttyS4"}, {root.host("/dev/pty"), "ttyS5"}};
    for (const auto &l : links)
        ASSERT_EQ(::symlink(l.first.c_str(), root.host(std::string("/dev/") + l.second).c_str()), 0);
    const auto before = beside.snapshot();
    for (int n = 1; n <= 5; ++n) {
        const int fd = platform::serial::open("/dev/ttyS" + std::to_string(n), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_EQ(fd >= 0, n == 5) << n;
        if (fd < 0)
            continue;
        EXPECT_EQ(platform::serial::write(fd, "x", 1), 1);
        platform::serial::close(fd);
    }
    EXPECT_EQ(pty.receive(1, zemtest::patience(std::chrono::milliseconds(2000))), std::vector<unsigned char>{'x'});
    EXPECT_EQ(beside.snapshot(), before);
    EXPECT_EQ(zemtest::readFile(root.host("/dev/plain")), "inside");
}

// The RS-485 and 4G links record their direction events at the same time:
// the log keeps exactly its newest LOG_LIMIT records, each one whole.
TEST_F(SerialLine, DirectionLogTakesTheRecordsOfSeveralLinksAtOnce)
{
    sim::clearDirectionLog();
    std::atomic<bool> go{false};
    std::vector<std::thread> links;
    for (int t = 0; t < 4; ++t)
        links.emplace_back([&go] {
            while (!go.load())
                std::this_thread::yield();
            for (size_t k = 0; k < sim::LOG_LIMIT; ++k)
                platform::serial::drain(-1);
        });
    go = true;
    for (std::thread &t : links)
        t.join();
    const std::vector<sim::Record> log = sim::directionLog();
    EXPECT_EQ(log.size(), sim::LOG_LIMIT);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const sim::Record &r) { return r.event != sim::Event::Drained; }), 0);
    sim::clearDirectionLog();
}

} // namespace
