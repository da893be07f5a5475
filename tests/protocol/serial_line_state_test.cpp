// What a serial line leaves behind: the descriptor of a line that hung up,
// and bytes that arrived before a speed change.

#include "proto_fixture.h"

#include "platform/platform.h"
#include "protocol/qy_uart_inout.h"
#include "protocol/serial_modules.h"
#include "support/device_process.h"
#include "support/patience.h"

#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class SerialLineStateTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        ProtoTest::SetUp();
        platform::ensureDir("/dev");
        path = root.host("/dev/ttyS2");
    }

    static int openDescriptors()
    {
        int n = 0;
        if (DIR *d = ::opendir("/proc/self/fd")) {
            while (::readdir(d))
                ++n;
            ::closedir(d);
        }
        return n;
    }

    static bool waitUntil(const std::function<bool()> &cond)
    {
        const auto deadline = std::chrono::steady_clock::now() + zemtest::patience(5000ms);
        while (!cond()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    std::string path;
};

// The PC side hangs up and comes back on a new line three times: the link
// holds one descriptor for its line, not one more for each line that went.
TEST_F(SerialLineStateTest, LineThatHungUpGivesItsDescriptorBack)
{
    auto pty = std::make_unique<zemtest::PtyLink>(path);
    ASSERT_TRUE(pty->ok());
    Qy_uart_inout link;
    ASSERT_EQ(link.usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    const int before = openDescriptors();
    for (int k = 0; k < 3; ++k) {
        pty->hangUp();
        ASSERT_TRUE(waitUntil([&] { return !link.line_open(); }));
        pty = std::make_unique<zemtest::PtyLink>(path);
        ASSERT_TRUE(pty->ok());
        ASSERT_TRUE(waitUntil([&] { return link.line_open(); }));
    }
    EXPECT_EQ(openDescriptors(), before);
    link.stop();
}

// Bytes that came in at the old speed are noise at the new one: a speed
// change drops what waits in the line's queue.
TEST_F(SerialLineStateTest, SpeedChangeDropsTheBytesWaiting)
{
    zemtest::PtyLink pty(path);
    ASSERT_TRUE(pty.ok());
    serial_modules serial;
    const int fd = serial.serial_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(pty.send({0x55, 0xAA, 0x01}));
    Uart_Rec_Send_Data rec;
    rec.fd = fd;
    // The bytes have crossed to the line's input queue.
    ASSERT_TRUE(waitUntil([&] {
        pollfd p = {fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }));
    ASSERT_EQ(serial.UartSetSpeed(fd, 9600), 0);
    EXPECT_EQ(serial.recv_uart_data(rec, 16), -1);
    ASSERT_TRUE(pty.send({0x42}));
    ASSERT_TRUE(waitUntil([&] { return serial.recv_uart_data(rec, 16) > 0; }));
    EXPECT_EQ(rec.count, 1);
    EXPECT_EQ(rec.data[0], 0x42);
    serial.close_all();
}

} // namespace
