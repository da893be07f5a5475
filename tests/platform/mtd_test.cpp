#include "platform/mtd.h"
#include "platform/platform.h"
#include "support/temp_root.h"

#include <cerrno>
#include <string>
#include <thread>

namespace {

namespace mtd = platform::mtd;
using Op = mtd::sim::Op;

class Mtd : public zemtest::RootTest
{
protected:
    void SetUp() override { mtd::sim::reset(); }
    void TearDown() override { mtd::sim::reset(); }

    std::string partition(const std::string &device)
    {
        return zemtest::readFile(root.host(mtd::sim::backingFile(device)));
    }
};

TEST_F(Mtd, PartitionsStartErasedWithTheirGeometry)
{
    int fd = mtd::open("/dev/mtd8");
    ASSERT_GE(fd, 0);
    mtd::Info info;
    ASSERT_EQ(mtd::getInfo(fd, info), 0);
    EXPECT_EQ(info.size, 0x60000u);
    EXPECT_EQ(info.erasesize, 0x10000u);
    EXPECT_EQ(info.writesize, 0x800u);
    mtd::close(fd);
    EXPECT_EQ(partition("/dev/mtd8"), std::string(0x60000, '\xFF'));

    fd = mtd::open("/dev/mtd10");
    ASSERT_EQ(mtd::getInfo(fd, info), 0);
    EXPECT_EQ(info.size, 0x500000u);
    mtd::close(fd);
    EXPECT_EQ(mtd::sim::backingFile("/dev/mtd10"), "/sim/mtd10.bin");
}

TEST_F(Mtd, WritesClearBitsAndEraseSetsWholeBlocks)
{
    int fd = mtd::open("/dev/mtd8");
    ASSERT_GE(fd, 0);
    const unsigned char a[2] = {0x0F, 0x3C};
    const unsigned char b[2] = {0xF3, 0xFF};
    ASSERT_EQ(mtd::pwrite(fd, a, 2, 0x10000), 2);
    ASSERT_EQ(mtd::pwrite(fd, b, 2, 0x10000), 2);   // programming without an erase
    ASSERT_EQ(mtd::pwrite(fd, a, 1, 0x20000), 1);
    unsigned char back[2] = {};
    ASSERT_EQ(mtd::pread(fd, back, 2, 0x10000), 2);
    EXPECT_EQ(back[0], 0x03);
    EXPECT_EQ(back[1], 0x3C);
    mtd::close(fd);

    // Contents outlive the descriptor; an erase restores one block only.
    fd = mtd::open("/dev/mtd8");
    ASSERT_EQ(mtd::erase(fd, 0x10000, 0x10000), 0);
    mtd::close(fd);
    std::string img = partition("/dev/mtd8");
    ASSERT_EQ(img.size(), 0x60000u);
    EXPECT_EQ(img.substr(0x10000, 0x10000), std::string(0x10000, '\xFF'));
    EXPECT_EQ(static_cast<unsigned char>(img[0x20000]), 0x0F);
}

TEST_F(Mtd, RequestsOutsideThePartitionOrOnLockedBlocksAreRefused)
{
    int fd = mtd::open("/dev/mtd8");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(mtd::erase(fd, 0x800, 0x10000), -1);      // not on a block boundary
    EXPECT_EQ(mtd::erase(fd, 0, 0x8000), -1);           // not a whole block
    EXPECT_EQ(mtd::erase(fd, 0x50000, 0x20000), -1);    // past the end
    EXPECT_EQ(mtd::unlock(fd, 0x50000, 0x20000), -1);

    // Writes are cut at the end of the partition; at the end nothing fits.
    const unsigned char z[8] = {};
    EXPECT_EQ(mtd::pwrite(fd, z, 8, 0x60000 - 4), 4);
    errno = 0;
    EXPECT_EQ(mtd::pwrite(fd, z, 8, 0x60000), -1);
    EXPECT_EQ(errno, ENOSPC);

    mtd::sim::lockAll("/dev/mtd8");
    EXPECT_EQ(mtd::erase(fd, 0, 0x10000), -1);
    EXPECT_EQ(mtd::unlock(fd, 0, 0x20000), 0);
    EXPECT_EQ(mtd::erase(fd, 0, 0x20000), 0);
    EXPECT_EQ(mtd::erase(fd, 0x10000, 0x20000), -1);    // stops at the locked third block
    mtd::close(fd);

    mtd::Info info;
    EXPECT_EQ(mtd::getInfo(fd, info), -1);   // closed
}

TEST_F(Mtd, RequestsAreLoggedAndFailOnDemand)
{
    mtd::sim::failRequest(Op::Open);
    EXPECT_EQ(mtd::open("/dev/mtd10"), -1);
    int fd = mtd::open("/dev/mtd10");
    ASSERT_GE(fd, 0);

    mtd::sim::failRequest(Op::Erase, 1);
    EXPECT_EQ(mtd::erase(fd, 0, 0x10000), 0);
    EXPECT_EQ(mtd::erase(fd, 0x10000, 0x10000), -1);
    EXPECT_EQ(mtd::erase(fd, 0x10000, 0x10000), 0);   // one failure only
    mtd::sim::failRequest(Op::Write);
    const unsigned char z[4] = {};
    EXPECT_EQ(mtd::pwrite(fd, z, 4, 0), -1);
    mtd::sim::failRequest(Op::GetInfo);
    mtd::Info info;
    EXPECT_EQ(mtd::getInfo(fd, info), -1);
    mtd::close(fd);

    const auto log = mtd::sim::log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0].op, Op::Open);
    EXPECT_FALSE(log[0].ok);
    EXPECT_TRUE(log[1].ok);
    EXPECT_EQ(log[3].op, Op::Erase);
    EXPECT_EQ(log[3].offset, 0x10000u);
    EXPECT_EQ(log[3].length, 0x10000u);
    EXPECT_FALSE(log[3].ok);
    EXPECT_EQ(log[5].op, Op::Write);
    EXPECT_EQ(log[5].device, "/dev/mtd10");
    EXPECT_FALSE(log[6].ok);

    // A new root starts with a clean log.
    zemtest::TempRoot other;
    EXPECT_TRUE(mtd::sim::log().empty());
}

// An erase on one thread while another partition is written on another: the
// simulation's shared state is taken under its lock (a ThreadSanitizer build
// reports an erase without it).
TEST_F(Mtd, EraseWhileAnotherThreadWrites)
{
    const int logo = mtd::open("/dev/mtd8");
    const int kernel = mtd::open("/dev/mtd10");
    ASSERT_GE(logo, 0);
    ASSERT_GE(kernel, 0);
    std::thread eraser([&] { EXPECT_EQ(mtd::erase(logo, 0x10000, 0x10000), 0); });
    const unsigned char z[4] = {};
    EXPECT_EQ(mtd::pwrite(kernel, z, 4, 0), 4);
    eraser.join();
    mtd::close(logo);
    mtd::close(kernel);
    EXPECT_EQ(mtd::sim::log().size(), 4u);
}

} // namespace
