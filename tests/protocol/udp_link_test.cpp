#include "protocol/udpnetmanage.h"
#include "protocol/wifi_relay.h"
#include "tcp_fixture.h"

using namespace nettest;
using namespace std::chrono_literals;

namespace {

class UdpLinkTest : public NetTest
{
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (int i = 0; i < 4096; ++i)
            store->ram_para[i] = uint8_t(i * 5 + 1);
        wifi_relay::install(nullptr, nullptr);
        udp.reset(new udpnetManage());
        ASSERT_EQ(udp->initialize(), 0);
    }
    void TearDown() override
    {
        udp.reset();
        wifi_relay::install(nullptr, nullptr);
    }

    std::unique_ptr<udpnetManage> udp;
};

Bytes readReq(uint32_t address, uint16_t len)
{
    return pctool::frame(pctool::ramRead(pctool::CONTROLLER, address, len));
}

} // namespace

TEST_F(UdpLinkTest, BroadcastOn5008UnicastOn10005AndNothingForUnknownOrShortDatagrams)
{
    UdpPeer pc;
    in_addr to{};
    Bytes r5008 = pc.ask(5008, readReq(40, 4), &to);
    ASSERT_FALSE(r5008.empty());
    EXPECT_TRUE(isBroadcast(to));   // reached the sender's port as a broadcast
    EXPECT_EQ(payload(r5008), (Bytes{0, store->ram_para[40], store->ram_para[41], store->ram_para[42], store->ram_para[43]}));
    Bytes r10005 = pc.ask(10005, readReq(40, 4), &to);
    EXPECT_TRUE(isLoopback(to));    // answered to the sender alone
    EXPECT_EQ(r10005, r5008);

    EXPECT_TRUE(pc.ask(5008, pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0x7E, 0)), nullptr, 150ms).empty());
    EXPECT_TRUE(pc.ask(10005, pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0x7E, 0)), nullptr, 150ms).empty());

    // Nine bytes or fewer are ignored, also as the tail of an open frame.
    pc.send(5008, {0xA5, 0x01, 0xF1, 0x10, 0xF0, 0, 0, 0, 0x5A});
    EXPECT_TRUE(pc.receive(150ms).empty());
    Bytes wire = readReq(8, 2);
    pc.send(10005, Bytes(wire.begin(), wire.end() - 5));
    pc.send(10005, Bytes(wire.end() - 5, wire.end()));
    EXPECT_TRUE(pc.receive(150ms).empty());
}

TEST_F(UdpLinkTest, FramesAreGatheredPerSender)
{
    UdpPeer a, b;
    Bytes wa = readReq(1000, 12);
    ASSERT_GE(wa.size(), 20u);
    a.send(10005, Bytes(wa.begin(), wa.begin() + 10));
    // B's whole frame in between does not cut A's frame.
    Bytes rb = b.ask(10005, readReq(2000, 2));
    EXPECT_EQ(payload(rb), (Bytes{0, store->ram_para[2000], store->ram_para[2001]}));
    a.send(10005, Bytes(wa.begin() + 10, wa.end()));
    Bytes ra = pctool::decode(a.receive(zemtest::patience(2000ms)));
    ASSERT_EQ(payload(ra).size(), 13u);
    EXPECT_EQ(payload(ra)[1], store->ram_para[1000]);
    EXPECT_TRUE(b.receive(100ms).empty());
}

TEST_F(UdpLinkTest, CardFramesOn5008AreAnsweredByTheCardsAtTheSendersPort)
{
    UdpPeer pc, other;
    Bytes ack = pc.ask(5008, cardFrame(2, Bytes(12, 0x22)));
    ASSERT_EQ(ack.size(), 12u);
    EXPECT_EQ(ack[10], 0);

    pc.send(5008, cardFrame(0x10));
    ASSERT_TRUE(zemtest::waitFor([&] { return udp->state() == udpnetManage::WaitingCard; }, 2000ms, 1ms));
    EXPECT_EQ(g_passby_trans_port.load(), 3);
    fpga[1]->queueCardReply(1, cardReply(7));
    in_addr to{};
    EXPECT_EQ(pctool::decode(pc.receive(zemtest::patience(2000ms), &to)), cardReply(7));
    EXPECT_TRUE(isBroadcast(to));
    EXPECT_TRUE(other.receive(50ms).empty());

    // 10005 does not pass card frames through.
    fpga[0]->clearOps();
    pc.send(10005, cardFrame(0x10));
    pc.receive(300ms);
    EXPECT_TRUE(fpga[0]->ops().empty());
}

// Frames sent back to back in one datagram are each answered, in order.
TEST_F(UdpLinkTest, FramesOfOneDatagramAreEachAnswered)
{
    UdpPeer pc;
    Bytes wire = pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 300, {0x11, 0x5A}));
    Bytes read = readReq(300, 2);
    wire.insert(wire.end(), read.begin(), read.end());
    pc.send(10005, wire);
    EXPECT_EQ(payload(pctool::decode(pc.receive(zemtest::patience(2000ms)))), Bytes{0});
    EXPECT_EQ(payload(pctool::decode(pc.receive(zemtest::patience(2000ms)))), (Bytes{0, 0x11, 0x5A}));
}

namespace {

// The reply body to a request body that a PC tool bound to `fd` sends to
// port 5008 from the address `source`.
Bytes askFrom(int fd, const char *source, const Bytes &body)
{
    const Bytes wire = pctool::frame(body);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5008);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char ctl[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec iov = {const_cast<uint8_t *>(wire.data()), wire.size()};
    msghdr m{};
    m.msg_name = &to;
    m.msg_namelen = sizeof to;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = ctl;
    m.msg_controllen = sizeof ctl;
    cmsghdr *c = CMSG_FIRSTHDR(&m);
    *c = {CMSG_LEN(sizeof(in_pktinfo)), IPPROTO_IP, IP_PKTINFO};
    in_pktinfo info{};
    inet_pton(AF_INET, source, &info.ipi_spec_dst);   // the datagram's source address
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    pollfd p = {fd, POLLIN, 0};
    if (::sendmsg(fd, &m, 0) < 0 || ::poll(&p, 1, int(zemtest::patience(2000ms).count())) <= 0)
        return {};
    Bytes buf(65536);
    buf.resize(size_t(std::max<ssize_t>(0, ::recv(fd, buf.data(), buf.size(), 0))));
    return pctool::decode(buf);
}

} // namespace

// Two PCs whose tools take 5008's broadcast answers on the same port number
// are two senders: a cloud-file upload belongs to the address and port that
// announced it, whatever address the answers go to.
TEST_F(UdpLinkTest, SendersOn5008AreTheirOwnAddressAndPort)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(47123);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    const Bytes announce = pctool::body(pctool::CONTROLLER, pctool::PC, 0xCC, 'F', {'0', '0', '2', 200, 0, 0, 0, 1});
    Bytes pieceData = {0, 0, 0, 0, 0, 200, 0};
    pieceData.resize(pieceData.size() + 200, 0x42);
    const Bytes piece = pctool::body(pctool::CONTROLLER, pctool::PC, 0xC5, 0x65, pieceData);
    EXPECT_EQ(payload(askFrom(fd, "127.0.0.1", announce)), (Bytes{0, 200, 0, 0x65, 0}));
    EXPECT_EQ(payload(askFrom(fd, "127.0.0.2", announce)), (Bytes{0, 200, 0, 0x65, 0}));
    EXPECT_EQ(payload(askFrom(fd, "127.0.0.1", piece)), (Bytes{1, 74, 1, 0x65, 0}));   // taken over
    EXPECT_EQ(payload(askFrom(fd, "127.0.0.2", piece)), (Bytes{0, 200, 0, 0x65, 0}));
    ::close(fd);
}

namespace {
std::atomic<uint8_t> apState{0};
uint8_t stubState() { return apState; }
int stubCommand(uint8_t *data, int count)
{
    udpnetManage *u = udpnetManage::p_udpnetManage;
    std::string text(reinterpret_cast<char *>(data), size_t(count));
    if (text != "AT+PING")
        return 0;
    sockaddr_in to = u->wifi_requests().front().addr;
    u->wifi_requests().pop_front();
    const uint8_t answer[] = {'O', 'K'};
    u->queue_wifi_reply(answer, 2, to);
    return 1;
}
} // namespace

TEST_F(UdpLinkTest, WifiRelayAnswersOnlyWhileTheAccessPointRuns)
{
    udpnetManage::p_udpnetManage = udp.get();
    apState = 0;
    wifi_relay::install(stubState, stubCommand);
    UdpPeer pc;
    const Bytes ping = {'A', 'T', '+', 'P', 'I', 'N', 'G'};
    pc.send(13769, ping);
    EXPECT_TRUE(pc.receive(300ms).empty());
    apState = 3;
    // The datagram waited in the socket; it is answered once the access point runs.
    int from = 0;
    EXPECT_EQ(pc.receive(zemtest::patience(3000ms), nullptr, &from), (Bytes{'O', 'K'}));
    EXPECT_EQ(from, 13769);
    pc.send(13769, {'?'});
    pc.send(13769, ping);
    EXPECT_EQ(pc.receive(zemtest::patience(3000ms)), (Bytes{'O', 'K'}));
    udpnetManage::p_udpnetManage = nullptr;
}

// As on TCP: 5008 marks the PC tool active before the XOR check, 10005 never.
TEST_F(UdpLinkTest, OnlyTheCommandPortMarksThePcToolActive)
{
    UdpPeer pc;
    pc_cmd_valid = 0;
    EXPECT_FALSE(pc.ask(10005, readReq(0, 1)).empty());
    EXPECT_EQ(pc_cmd_valid.load(), 0);

    Bytes bad = pctool::withXor(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    bad.back() ^= 0x01;
    EXPECT_TRUE(pc.ask(5008, pctool::frameRaw(bad), nullptr, 200ms).empty());
    EXPECT_TRUE(zemtest::waitFor([] { return pc_cmd_valid == 1; }, 2000ms, 1ms));
}

// An answer the socket cannot take now (here: datagrams wait for a neighbour
// that never answers its address request) is queued and sent once the
// socket takes more; beyond the queue's cap answers are refused instead of
// piling up.
TEST_F(NetTest, UdpAnswersTheSocketCannotTakeNowWaitForIt)
{
    UdpServer server;
    ASSERT_EQ(server.initialize(15009), 0);
    const int tiny = 1;
    ASSERT_EQ(setsockopt(server.socket(), SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny), 0);
    sockaddr_in silent{};
    silent.sin_family = AF_INET;
    silent.sin_port = htons(15010);
    ASSERT_EQ(inet_pton(AF_INET, "10.77.0.2", &silent.sin_addr), 1);

    const Bytes answer(1000, 0x42);
    int sent = 0;
    while (server.queued() == 0 && sent < 100) {
        ASSERT_EQ(server.sendData(answer.data(), uint32_t(answer.size()), silent), 0);
        ++sent;
    }
    ASSERT_GT(server.queued(), 0u);
    while (server.sendData(answer.data(), uint32_t(answer.size()), silent) == 0)
        ASSERT_LE(server.queued(), UdpServer::REPLY_QUEUE_MAX);
    EXPECT_GT(server.queued() + answer.size(), UdpServer::REPLY_QUEUE_MAX);

    // Once the kernel gives up on the neighbour, the socket takes the queue again.
    const size_t full = server.queued();
    EXPECT_TRUE(zemtest::waitFor([&] {
        server.wait(100, -1);
        server.flush();
        return server.queued() < full;
    }, 10s));
}
