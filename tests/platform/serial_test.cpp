#include "platform/serial.h"
#include "support/temp_root.h"

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

} // namespace
