#include "platform/files.h"
#include "platform/shell.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"
#include "protocol/wifi_relay.h"
#include "tcp_fixture.h"
#include "videoio/tarixsource.h"

using namespace nettest;
using namespace std::chrono_literals;

namespace {

// The clock and EDID commands as the PC tool sends them over TCP 10002 and
// UDP 10005.
class ParaCmdNetTest : public NetTest
{
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        tarixsource::pInstance();
        g_port = 5005;
        net.reset(new networkManage());
        ASSERT_EQ(net->initialize(), 0);
        ASSERT_TRUE(net->controller_port_open());
        wifi_relay::install(nullptr, nullptr);
        udp.reset(new udpnetManage());
        ASSERT_EQ(udp->initialize(), 0);
    }
    void TearDown() override
    {
        udp.reset();
        net.reset();
        wifi_relay::install(nullptr, nullptr);
    }

    std::unique_ptr<networkManage> net;
    std::unique_ptr<udpnetManage> udp;
};

Bytes edidUpload(uint16_t port, const Bytes &file)
{
    Bytes p = {uint8_t(port), 0, 0, 0, 0, 0, uint8_t(file.size()), uint8_t(file.size() >> 8)};
    p.insert(p.end(), file.begin(), file.end());
    return pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0xC1, 1, p));
}

} // namespace

TEST_F(ParaCmdNetTest, ClockSetAndEdidUploadOverTcpAndReadBackOverUdp)
{
    int fd = tcpConnect(10002);
    ASSERT_GE(fd, 0);
    platform::shell::sim::clearLog();
    Bytes clock = pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0x87, 0x24, {0x20, 0x12, 0x31, 0x23, 0x59, 0x05}));
    EXPECT_EQ(payload(ask(fd, clock)), Bytes{0});
    EXPECT_EQ(platform::shell::sim::log(), std::vector<std::string>{"date \"2024-12-31 23:59:5\";hwclock -wu"});

    Bytes file(288);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = uint8_t(i ^ 0x5A);
    para::set16(file.data(), 2, 1920);
    EXPECT_EQ(payload(ask(fd, edidUpload(0, file))), (Bytes{0, 1}));
    std::string stored;
    ASSERT_TRUE(platform::files::readAll("/data/edidramtable/0000.bin", platform::files::Kind::EdidTable, stored));
    EXPECT_EQ(stored, std::string(file.begin(), file.end()));
    EXPECT_EQ(para::get16(store->ram_para, 896), 1920);
    EXPECT_EQ(chip->para_changed, 1);
    ::close(fd);

    UdpPeer pc;
    Bytes r = pc.ask(10005, pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0xC1, 2, {0, 0})));
    ASSERT_EQ(r.size(), 10u + 296u + 1u);
    EXPECT_EQ(Bytes(r.begin() + 18, r.end() - 1), file);
}
