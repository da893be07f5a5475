#include "app/global.h"
#include "app/usbserver.h"
#include "platform/uevent.h"
#include "support/device_process.h"
#include "support/temp_root.h"
#include "ui/option.h"
#include "ui/pages.h"

#include <QApplication>
#include <algorithm>
#include <mutex>
#include <unistd.h>
#include <thread>

namespace {

using platform::uevent::sim::inject;

class UsbServerTest : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        platform::uevent::sim::clear();
        G_timeTicks = 0;
        g_delay_usbserver = 1;
    }
    void TearDown() override
    {
        server.reset();
        g_delay_usbserver = 0;
        G_timeTicks = 0;
    }
    void start()
    {
        server.reset(new UsbServer);
        server->setStorageWaitMs(5000);
        QObject::connect(server.get(), &UsbServer::sig_usb_update, [this](int code) {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(code);
        });
        ASSERT_EQ(server->initialize(), 0);
    }
    std::vector<int> codes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    bool hasCode(int code)
    {
        std::vector<int> c = codes();
        return std::find(c.begin(), c.end(), code) != c.end();
    }
    // Waits for `code` while the 10 ms tick runs on.
    bool waitCode(int code)
    {
        return zemtest::waitFor([&] {
            G_timeTicks += 5;
            return hasCode(code);
        }, std::chrono::seconds(10), std::chrono::milliseconds(5));
    }
    void makeStorage() { zemtest::writeFile(root.host("/proc/scsi/usb-storage"), ""); }

    std::unique_ptr<UsbServer> server;
    std::mutex mutex;
    std::vector<int> received;
};

TEST_F(UsbServerTest, PartitionAddGives100Then102OnceStorageIsThere)
{
    start();
    inject("add@/devices/platform/usb/1-1/host0/target0:0:0/0:0:0:0/block/sda/sda1");
    ASSERT_TRUE(waitCode(100));
    EXPECT_FALSE(hasCode(102));  // no storage yet
    makeStorage();
    ASSERT_TRUE(waitCode(102));
    inject("remove@/devices/platform/usb/1-1/host0/target0:0:0/0:0:0:0/block/sda");
    ASSERT_TRUE(waitCode(101));
    EXPECT_EQ(codes(), (std::vector<int>{100, 102, 101}));
}

TEST_F(UsbServerTest, OnlyPartitionsSda0To9GiveStorageReady)
{
    makeStorage();
    start();
    inject("add@/devices/x/block/sda");
    inject("add@/devices/x/block/sdb/sdb1");
    inject("add@/devices/x/block/sda/sda10");
    // Numbers too large for an int are no partition 0 to 9 either.
    inject("add@/devices/x/block/sda/sda4294967297");
    inject("add@/devices/x/block/sda/sda99999999999999999999");
    inject("change@/devices/x/block/sda/sdax");
    inject("remove@/devices/x/block/sda/sda9");
    ASSERT_TRUE(waitCode(102));
    EXPECT_EQ(codes(), (std::vector<int>{100, 100, 100, 100, 100, 101, 102}));
}

TEST_F(UsbServerTest, EventsWaitUntilTheListenerIsReleased)
{
    g_delay_usbserver = 0;
    start();
    inject("add@/devices/a");
    inject("remove@/devices/a");
    EXPECT_FALSE(zemtest::waitFor([&] { return !codes().empty(); }, std::chrono::milliseconds(100)));
    g_delay_usbserver = 1;
    ASSERT_TRUE(waitCode(101));
    EXPECT_EQ(codes(), (std::vector<int>{100, 101}));
}

// A stick whose storage never shows up does not hold the listener forever.
TEST_F(UsbServerTest, StorageWaitIsBounded)
{
    start();
    server->setStorageWaitMs(100);
    inject("add@/devices/x/block/sda/sda1");
    inject("remove@/devices/x/block/sda/sda1");
    ASSERT_TRUE(waitCode(101));
    EXPECT_EQ(codes(), (std::vector<int>{100, 101}));
}

// A message longer than the receive buffer is cut and terminated.
TEST_F(UsbServerTest, OversizedMessageIsCutAndTerminated)
{
    start();
    std::string big = "add@/" + std::string(4091, 'x');  // exactly 4096 bytes
    inject(big + "/remove@/more");
    inject(std::string("remove@\0/add@", 13));
    ASSERT_TRUE(waitCode(101));
    EXPECT_EQ(codes(), (std::vector<int>{100, 101}));
}

TEST_F(UsbServerTest, FailedOpenReported)
{
    platform::uevent::sim::failNextOpen();
    UsbServer s;
    EXPECT_EQ(s.initialize(), 255);
    EXPECT_EQ(s.recvData(), 255);
}

TEST_F(UsbServerTest, EventsFromTheFifo)
{
    start();
    std::string fifo = platform::uevent::sim::fifoPath();
    ASSERT_TRUE(zemtest::waitFor([&] { return access(fifo.c_str(), F_OK) == 0; }));
    zemtest::writeFile(fifo, "add@/devices/f\nremove@/devices/f\n");
    ASSERT_TRUE(waitCode(101));
    EXPECT_EQ(codes(), (std::vector<int>{100, 101}));
}

// The Setting menu is closed by the GUI thread, not by the listener.
TEST_F(UsbServerTest, SettingMenuClosedInTheGuiThread)
{
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    if (!qApp)
        app.reset(new QApplication(argc, argv));
    Option *menu = new Option;
    ASSERT_EQ(g_option, menu);
    ASSERT_EQ(g_page_focus.load(), 5);

    makeStorage();
    start();
    inject("add@/devices/x/block/sda/sda1");
    inject("remove@/devices/y");
    ASSERT_TRUE(waitCode(101));  // the listener has finished the first message
    EXPECT_EQ(g_option, menu);
    EXPECT_EQ(g_page_focus.load(), 5);

    ASSERT_TRUE(zemtest::waitFor([&] {
        QCoreApplication::processEvents();
        return g_option == nullptr;
    }, std::chrono::seconds(5)));
    EXPECT_EQ(g_page_focus.load(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
