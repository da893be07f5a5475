// Raw flash partitions through the device backend, as on the board: the
// driver's requests are answered by a stand-in for the MTD driver, the
// partition node is a plain file under the test's root.

#include "app/utils.h"
#include "platform/mtd.h"
#include "platform/platform.h"
#include "support/temp_root.h"

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace {

namespace mtd = platform::mtd;

// An unlock or erase request the driver received.
struct DriverRequest {
    unsigned long request;
    uint32_t start, length;
    bool operator==(const DriverRequest &o) const
    {
        return request == o.request && start == o.start && length == o.length;
    }
};
std::mutex g_driverMutex;
std::vector<DriverRequest> g_driverRequests;

// The driver of a NOR partition of 5 MiB in 64 KiB erase blocks written in
// 2 KiB units.
int norDriver(int, unsigned long request, void *arg)
{
    std::lock_guard<std::mutex> lock(g_driverMutex);
    if (request == MEMGETINFO) {
        auto *mi = static_cast<mtd_info_user *>(arg);
        *mi = {};
        mi->type = MTD_NORFLASH;
        mi->size = 0x500000;
        mi->erasesize = 0x10000;
        mi->writesize = 0x800;
        return 0;
    }
    const auto *ei = static_cast<const erase_info_user *>(arg);
    g_driverRequests.push_back({request, ei->start, ei->length});
    return 0;
}

class FlashOnTheBoard : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        platform::configure(platform::Mode::Device, root.dir());
        ::mkdir(root.host("/dev").c_str(), 0755);
        zemtest::writeFile(root.host("/dev/mtd10"), "");
        g_driverRequests.clear();
        mtd::testing::setKernelIoctl(&norDriver);
    }
    void TearDown() override
    {
        mtd::testing::setKernelIoctl(nullptr);
        platform::configure(platform::Mode::Sim, root.dir());
    }
};

TEST_F(FlashOnTheBoard, EraseGoesBlockByBlockOfTheDriversEraseSize)
{
    const int fd = mtd::open("/dev/mtd10");
    ASSERT_GE(fd, 0);
    mtd::Info info;
    ASSERT_EQ(mtd::getInfo(fd, info), 0);
    EXPECT_EQ(info.size, 0x500000u);
    EXPECT_EQ(info.erasesize, 0x10000u);
    EXPECT_EQ(info.writesize, 0x800u);
    // 0x18000 bytes from 0x20000 lie in two blocks; each is unlocked, then erased.
    EXPECT_EQ(Utils::non_region_erase(fd, 0x20000, 0x18000, 1), 0);
    mtd::close(fd);
    EXPECT_EQ(g_driverRequests, (std::vector<DriverRequest>{{MEMUNLOCK, 0x20000, 0x10000},
                                                            {MEMERASE, 0x20000, 0x10000},
                                                            {MEMUNLOCK, 0x30000, 0x10000},
                                                            {MEMERASE, 0x30000, 0x10000}}));
}

} // namespace
