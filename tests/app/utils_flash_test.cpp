#include "app/utils.h"
#include "platform/mtd.h"
#include "support/temp_root.h"

#include <string>
#include <vector>

namespace {

namespace mtd = platform::mtd;
using Op = mtd::sim::Op;

class UtilsFlash : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        mtd::sim::reset();
        fd = mtd::open("/dev/mtd8");
        ASSERT_GE(fd, 0);
        mtd::sim::clearLog();
    }
    void TearDown() override
    {
        mtd::close(fd);
        mtd::sim::reset();
    }

    std::vector<mtd::sim::Request> requests(Op op)
    {
        std::vector<mtd::sim::Request> out;
        for (const auto &r : mtd::sim::log())
            if (r.op == op)
                out.push_back(r);
        return out;
    }

    int fd = -1;
};

TEST_F(UtilsFlash, EraseCoversTheRangeOneBlockAtATime)
{
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 0);
    auto erases = requests(Op::Erase);
    ASSERT_EQ(erases.size(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(erases[i].offset, i * 0x10000u);
        EXPECT_EQ(erases[i].length, 0x10000u);
    }
    EXPECT_TRUE(requests(Op::Unlock).empty());

    // A partial block is erased whole; with the unlock flag each block is
    // unlocked right before its erase.
    mtd::sim::lockAll("/dev/mtd8");
    mtd::sim::clearLog();
    EXPECT_EQ(Utils::non_region_erase(fd, 0x20000, 0x10001, 1), 0);
    auto log = mtd::sim::log();
    ASSERT_EQ(log.size(), 5u);   // geometry, then unlock/erase at 0x20000 and 0x30000
    EXPECT_EQ(log[1].op, Op::Unlock);
    EXPECT_EQ(log[2].op, Op::Erase);
    EXPECT_EQ(log[2].offset, 0x20000u);
    EXPECT_EQ(log[4].offset, 0x30000u);
}

TEST_F(UtilsFlash, WriteUsesWholeUnitsThenOneShorterWrite)
{
    std::vector<uint8_t> data(0x1234);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 1);
    ASSERT_EQ(Utils::non_region_erase(fd, 0x10000, 0x10000, 0), 0);
    mtd::sim::clearLog();
    EXPECT_EQ(Utils::non_region_write(fd, data.data(), 0x1234, 0x10000), 0);
    auto writes = requests(Op::Write);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].offset, 0x10000u);
    EXPECT_EQ(writes[0].length, 0x800u);
    EXPECT_EQ(writes[1].offset, 0x10800u);
    EXPECT_EQ(writes[2].offset, 0x11000u);
    EXPECT_EQ(writes[2].length, 0x234u);

    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(mtd::pread(fd, back.data(), back.size(), 0x10000), ssize_t(back.size()));
    EXPECT_EQ(back, data);
}

TEST_F(UtilsFlash, EraseThenWriteStoresAWholePartition)
{
    std::vector<uint8_t> image(0x60000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i >> 3) ^ i);
    // Old contents first, so a missing erase would show.
    ASSERT_EQ(Utils::non_region_write(fd, std::vector<uint8_t>(0x60000, 0x5A).data(), 0x60000, 0), 0);
    ASSERT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 0);
    ASSERT_EQ(Utils::non_region_write(fd, image.data(), 0x60000, 0), 0);
    EXPECT_EQ(zemtest::readFile(root.host("/sim/mtd8.bin")),
              std::string(image.begin(), image.end()));
}

// Every failed step is reported, including a partition whose geometry cannot
// be read (which must not pass for an erased one).
TEST_F(UtilsFlash, FailuresAreReported)
{
    mtd::sim::failRequest(Op::GetInfo);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 8);
    EXPECT_TRUE(requests(Op::Erase).empty());
    mtd::sim::failRequest(Op::GetInfo);
    const uint8_t bytes[0x900] = {};
    EXPECT_EQ(Utils::non_region_write(fd, bytes, sizeof bytes, 0), 1);
    EXPECT_TRUE(requests(Op::Write).empty());

    mtd::sim::clearLog();
    mtd::sim::failRequest(Op::Erase, 2);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 8);
    EXPECT_EQ(requests(Op::Erase).size(), 3u);   // stops at the refused block

    mtd::sim::failRequest(Op::Unlock);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x10000, 1), 8);

    mtd::sim::failRequest(Op::Write, 1);
    EXPECT_EQ(Utils::non_region_write(fd, bytes, sizeof bytes, 0), 1);

    // Past the end of the partition the last write comes back short.
    EXPECT_EQ(Utils::non_region_write(fd, bytes, sizeof bytes, 0x60000 - 0x800), 1);
    EXPECT_EQ(Utils::non_region_erase(fd, 0x50000, 0x20000, 0), 8);
}

} // namespace
