#include "app/utils.h"
#include "platform/platform.h"
#include "cloud/message_deal_4g.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"
#include "protocol/uart_inout_4G.h"
#include "tcp_fixture.h"

#include <fcntl.h>
#include <mutex>

using namespace nettest;
using namespace std::chrono_literals;

namespace {

class Link4GTest : public NetTest
{
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (int i = 0; i < 4096; ++i)
            store->ram_para[i] = uint8_t(i ^ 0x5A);
        {
            std::lock_guard<std::mutex> lock(Utils::_reconfig_4g_mutex);
            g_reconfig_4g = 0;
        }
        platform::ensureDir("/dev");
        pty.reset(new zemtest::PtyLink(root.host("/dev/ttyS1")));
        ASSERT_TRUE(pty->ok());
        link.reset(new Qy_uart_inout_4G());
        ASSERT_EQ(link->usart1_init(1, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
        ASSERT_TRUE(link->running());
    }
    void TearDown() override
    {
        link.reset();
        pty.reset();
    }

    Bytes ask(const Bytes &wire, std::chrono::milliseconds timeout = zemtest::patience(2000ms))
    {
        EXPECT_TRUE(pty->send(wire));
        return pctool::decode(pctool::readFrames(pty->master(), 1, timeout));
    }

    std::unique_ptr<zemtest::PtyLink> pty;
    std::unique_ptr<Qy_uart_inout_4G> link;
};

const Bytes RECONFIG = {0xA5, 0x10, 0xF0, 0x00, 0xF1, 0x10, 0xCC, 0x01, 0x00, 0x00, 0xA0, 0x01, 0x01, 0x01, 0x6D, 0x5A};

} // namespace

TEST_F(Link4GTest, TheSameRamReadGetsTheSameReplyOnEveryLink)
{
    g_port = 5005;
    networkManage tcp;
    udpnetManage udp;
    ASSERT_EQ(tcp.initialize(), 0);
    ASSERT_EQ(udp.initialize(), 0);
    Bytes req = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x123, 6));
    Bytes over4g = ask(req);
    ASSERT_EQ(payload(over4g).size(), 7u);
    EXPECT_EQ(payload(over4g)[1], store->ram_para[0x123]);
    for (int port : {5005, 10002}) {
        int fd = tcpConnect(port);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(nettest::ask(fd, req), over4g) << port;
        ::close(fd);
    }
    UdpPeer pc;
    EXPECT_EQ(pc.ask(5008, req), over4g);
    EXPECT_EQ(pc.ask(10005, req), over4g);
}

TEST_F(Link4GTest, CardFramesAreNotAcknowledgedAndTheirRepliesComeBackOnThe4GLine)
{
    EXPECT_TRUE(pty->send(cardFrame(2, Bytes(12, 0x33))));
    EXPECT_TRUE(pctool::readFrames(pty->master(), 1, 200ms).empty());
    ASSERT_TRUE(zemtest::waitFor([&] { return link->state() == Qy_uart_inout_4G::WaitingCard; }, 2000ms, 1ms));
    EXPECT_EQ(g_passby_trans_port.load(), Qy_uart_inout_4G::TRANSPORT_4G);
    fpga[0]->queueCardReply(1, cardReply(9));
    EXPECT_EQ(pctool::decode(pctool::readFrames(pty->master(), 1, zemtest::patience(2000ms))), cardReply(9));
    EXPECT_EQ(card->reply_ready.load(), 0);
    // The link goes idle once the reply has left, a moment after it arrives.
    EXPECT_TRUE(zemtest::waitFor([&] { return link->state() == Qy_uart_inout_4G::Idle; }, 2000ms, 1ms));
}

TEST_F(Link4GTest, ReconfigurationFrameIsSentAndOnlyThenTheRequestCleared)
{
    {
        std::lock_guard<std::mutex> lock(Utils::_reconfig_4g_mutex);
        g_reconfig_4g = 1;
    }
    link->wake();
    EXPECT_EQ(pty->receive(RECONFIG.size(), zemtest::patience(2000ms)), RECONFIG);
    ASSERT_TRUE(zemtest::waitFor([] {
        std::lock_guard<std::mutex> lock(Utils::_reconfig_4g_mutex);
        return g_reconfig_4g == 0;
    }, 2000ms, 1ms));

    // A reply sent on the line while a request is pending leaves it pending:
    // the frame still follows the reply.
    Bytes reply;
    {
        std::lock_guard<std::mutex> lock(Utils::_reconfig_4g_mutex);
        g_reconfig_4g = 1;
        reply = ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 7, 1)));
        EXPECT_EQ(g_reconfig_4g, 1);
    }
    EXPECT_EQ(payload(reply), (Bytes{0, store->ram_para[7]}));
    EXPECT_EQ(pty->receive(RECONFIG.size(), zemtest::patience(2000ms)), RECONFIG);
}

namespace {

class Link4GLineTest : public ProtoTest
{
};

} // namespace

// As on the RS-485 link: the module's side of the line hangs up and comes
// back; the link closes the port, backs off without spinning and re-opens it
// by its path, then answers again.
TEST_F(Link4GLineTest, HungUpLineIsReopenedWithoutSpinning)
{
    platform::ensureDir("/dev");
    const std::string path = root.host("/dev/ttyS1");
    auto pty = std::make_unique<zemtest::PtyLink>(path);
    ASSERT_TRUE(pty->ok());
    Qy_uart_inout_4G link;
    ASSERT_EQ(link.usart1_init(1, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    auto ask = [&](int master) {
        EXPECT_TRUE(pctool::writeAll(master, pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2))));
        return payload(pctool::decode(pctool::readFrames(master, 1, zemtest::patience(3000ms))));
    };
    EXPECT_EQ(ask(pty->master()), (Bytes{0, 0x52, 0x97}));

    pty->hangUp();
    ASSERT_TRUE(zemtest::waitFor([&] { return !link.line_open(); }, 5000ms, 5ms));
    const uint64_t before = link.turns();
    EXPECT_FALSE(zemtest::waitFor([&] { return link.line_open(); }, 500ms, 5ms));
    EXPECT_LT(link.turns() - before, 20u);

    pty = std::make_unique<zemtest::PtyLink>(path);
    ASSERT_TRUE(pty->ok());
    ASSERT_TRUE(zemtest::waitFor([&] { return link.line_open(); }, 5000ms, 5ms));
    EXPECT_EQ(ask(pty->master()), (Bytes{0, 0x52, 0x97}));
    link.stop();
}
