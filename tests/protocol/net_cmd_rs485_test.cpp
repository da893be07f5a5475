#include "net_cmd_fixture.h"

#include "platform/platform.h"
#include "protocol/qy_uart_inout.h"
#include "support/device_process.h"

#include <fcntl.h>

using pctool::Bytes;
using namespace std::chrono_literals;

namespace {

// The network and barcode commands as the PC tool sends them over RS-485.
class NetCmdLine : public CmdTest
{
protected:
    void SetUp() override
    {
        CmdTest::SetUp();
        platform::ensureDir("/dev");
        pty.reset(new zemtest::PtyLink(root.host("/dev/ttyS2")));
        ASSERT_TRUE(pty->ok());
        link.reset(new Qy_uart_inout());
        ASSERT_EQ(link->usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    }
    void TearDown() override
    {
        link.reset();
        pty.reset();
        CmdTest::TearDown();
    }
    // The reply data from byte 10 (without the XOR) of one request.
    Bytes ask(uint8_t command, const Bytes &from10)
    {
        Bytes rest(from10.begin() + 1, from10.end());
        EXPECT_TRUE(pctool::writeAll(pty->master(),
                                     pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, command, from10[0], rest))));
        Bytes r = pctool::decode(pctool::readFrames(pty->master(), 1, zemtest::patience(2000ms)));
        return r.size() > 11 ? Bytes(r.begin() + 10, r.end() - 1) : Bytes();
    }

    std::unique_ptr<zemtest::PtyLink> pty;
    std::unique_ptr<Qy_uart_inout> link;
};

} // namespace

TEST_F(NetCmdLine, SearchDeviceRecordAndBarcodeOverTheLine)
{
    platform::shell::sim::script("ifconfig eth0 | grep HWaddr", 0, "02:00:00:aa:bb:cc\n");
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_ip = QStringLiteral("192.168.0.199");
        g_srt_mask = QStringLiteral("255.255.255.0");
        g_str_gateway = QStringLiteral("192.168.0.1");
    }
    g_port = 5005;
    EXPECT_EQ(ask(0xA4, {3}), (Bytes{0, 3, 22, 0, 0, 0x02, 0, 0, 0xAA, 0xBB, 0xCC, 192, 168, 0, 199, 255, 255,
                                      255, 0, 192, 168, 0, 1, 0x8D, 0x13}));
    EXPECT_EQ(ask(0xA2, {30, 8, 0, 'A', '5', '5', 'A', 'A', '6'}), (Bytes{0, 30}));
    EXPECT_EQ(ask(0xA2, {31}), (Bytes{0, 31, 8, 0, 'A', '5', '5', 'A', 'A', '6'}));
    Bytes record = ask(0xA4, {16});
    ASSERT_EQ(record.size(), 233u);
    EXPECT_EQ(Bytes(record.begin() + 11, record.begin() + 18), (Bytes{'A', '5', '5', 'A', 'A', '6', 0}));
    EXPECT_EQ(Bytes(record.begin() + 187, record.begin() + 195), (Bytes{0x02, 0, 0, 0xAA, 0xBB, 0xCC, 0x8D, 0x13}));
}
