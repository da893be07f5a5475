// A chip that never identifies must not stop any link from answering register
// commands (and what follows them).

#include "reg_cmd_fixture.h"

#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"
#include "protocol/wifi_relay.h"
#include "support/netns.h"
#include "tcp_fixture.h"

using namespace regtest;

namespace {

class RegNetTest : public RegLinkTest
{
protected:
    void SetUp() override
    {
        ZEM_NETNS_OR_SKIP(zemtest::enterPrivateNetwork(), "no private network namespace");
        RegLinkTest::SetUp();
        if (HasFatalFailure())
            return;
        g_port = 5005;
        net.reset(new networkManage());
        ASSERT_EQ(net->initialize(), 0);
        wifi_relay::install(nullptr, nullptr);
        udp.reset(new udpnetManage());
        ASSERT_EQ(udp->initialize(), 0);
    }
    void TearDown() override
    {
        udp.reset();
        net.reset();
        wifi_relay::install(nullptr, nullptr);
        RegLinkTest::TearDown();
    }

    std::unique_ptr<networkManage> net;
    std::unique_ptr<udpnetManage> udp;
};

Bytes regWrite(uint8_t r, uint8_t m, uint8_t v)
{
    return pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, r, {m, 0, v}));
}

TEST_F(RegNetTest, EveryLinkKeepsAnsweringWithASilentChip)
{
    chipModel->setIdentity(0xFF);
    ASSERT_EQ(chip->initialize(), 0);
    ASSERT_TRUE(waitFor([&] { return chipModel->identityReads() > 3; }));

    int tcp5005 = nettest::tcpConnect(5005);
    int tcp10002 = nettest::tcpConnect(10002);
    ASSERT_GE(tcp5005, 0);
    ASSERT_GE(tcp10002, 0);
    nettest::UdpPeer pc;
    const Bytes requests[] = {regWrite(11, 0x0E, 0), regWrite(162, 0xFF, 1), regWrite(16, 0x12, 0),
                              pctool::frame(pctool::ramRead(pctool::CONTROLLER, para::BRIGHTNESS, 2))};
    for (const Bytes &req : requests) {
        EXPECT_FALSE(askWire(req).empty());
        EXPECT_FALSE(nettest::payload(nettest::ask(tcp5005, req)).empty());
        EXPECT_FALSE(nettest::payload(nettest::ask(tcp10002, req)).empty());
        EXPECT_FALSE(nettest::payload(pc.ask(10005, req)).empty());
    }
    ::close(tcp5005);
    ::close(tcp10002);
    EXPECT_EQ(chip->setup_state.load(), 0);
    EXPECT_EQ(chip->para_changed, 2);   // waits for the chip; nobody else does
}

} // namespace
