#include "protocol/networkmanage.h"
#include "tcp_fixture.h"

#include <algorithm>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <thread>

using namespace nettest;
using namespace std::chrono_literals;

namespace {

class TcpLinkTest : public NetTest
{
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (int i = 0; i < 4096; ++i)
            store->ram_para[i] = uint8_t(i * 7 + 3);
        g_port = 5005;
        net.reset(new networkManage());
        ASSERT_EQ(net->initialize(), 0);
        ASSERT_TRUE(net->command_port_open());
        ASSERT_TRUE(net->controller_port_open());
    }
    void TearDown() override { net.reset(); }

    Bytes expectedRead(uint32_t address, uint16_t len)
    {
        Bytes b{0};
        for (uint32_t i = 0; i < len; ++i)
            b.push_back(store->ram_para[address + i]);
        return b;
    }

    std::unique_ptr<networkManage> net;
};

Bytes readReq(uint32_t address, uint16_t len, uint16_t src = pctool::PC)
{
    Bytes b = pctool::ramRead(pctool::CONTROLLER, address, len);
    b[2] = uint8_t(src);
    b[3] = uint8_t(src >> 8);
    return pctool::frame(b);
}

} // namespace

TEST_F(TcpLinkTest, BothPortsAnswerControllerFramesAndEvenAnUnknownCommand)
{
    int a = tcpConnect(5005), b = tcpConnect(10002);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    Bytes ra = ask(a, readReq(100, 4));
    Bytes rb = ask(b, readReq(100, 4));
    EXPECT_EQ(payload(ra), expectedRead(100, 4));
    EXPECT_EQ(ra, rb);
    EXPECT_EQ(ra[0], uint8_t(pctool::PC));   // addresses swapped

    // An unknown command: the bare header with addresses swapped and the XOR.
    Bytes unknown = pctool::body(pctool::CONTROLLER, pctool::PC, 0x7E, 0);
    Bytes bare(unknown.begin(), unknown.begin() + 10);
    protocol_phy::swap_phy_head(bare.data());
    bare = pctool::withXor(bare);
    EXPECT_EQ(ask(b, pctool::frame(unknown)), bare);
    EXPECT_EQ(ask(a, pctool::frame(unknown)), bare);

    // A card frame on 10002 is not passed through: the handler answers it.
    EXPECT_FALSE(ask(b, cardFrame(0x10)).empty());
    EXPECT_TRUE(fpga[0]->ops().empty());
    // A wrong XOR gets nothing.
    Bytes bad = pctool::withXor(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    bad.back() ^= 1;
    EXPECT_TRUE(ask(a, pctool::frameRaw(bad), 200ms).empty());
    ::close(a);
    ::close(b);
}

TEST_F(TcpLinkTest, FramesAreGatheredFromTheStreamWhateverTheSegments)
{
    int a = tcpConnect(5005);
    ASSERT_GE(a, 0);
    // One byte per segment, continuation pieces far below ten bytes.
    Bytes wire = readReq(300, 3);
    for (uint8_t byte : wire) {
        ASSERT_TRUE(pctool::writeAll(a, {byte}));
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(payload(pctool::decode(pctool::readFrames(a, 1, zemtest::patience(2000ms)))), expectedRead(300, 3));

    // Three frames in one segment are all answered, in order.
    Bytes three;
    for (uint32_t addr : {10u, 20u, 30u}) {
        Bytes f = readReq(addr, 2);
        three.insert(three.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(pctool::writeAll(a, three));
    std::vector<Bytes> replies = pctool::decodeAll(pctool::readFrames(a, 3, zemtest::patience(2000ms)));
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(payload(replies[0]), expectedRead(10, 2));
    EXPECT_EQ(payload(replies[1]), expectedRead(20, 2));
    EXPECT_EQ(payload(replies[2]), expectedRead(30, 2));
    ::close(a);
}

TEST_F(TcpLinkTest, ClientsKeepTheirOwnPartialFramesAndGetTheirOwnReplies)
{
    int a = tcpConnect(5005), b = tcpConnect(5005);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    Bytes wa = readReq(500, 4);
    ASSERT_TRUE(pctool::writeAll(a, Bytes(wa.begin(), wa.begin() + 7)));
    // B's whole frame neither discards A's half nor is answered on A.
    EXPECT_EQ(payload(ask(b, readReq(600, 4))), expectedRead(600, 4));
    ASSERT_TRUE(pctool::writeAll(a, Bytes(wa.begin() + 7, wa.end())));
    EXPECT_EQ(payload(pctool::decode(pctool::readFrames(a, 1, zemtest::patience(2000ms)))), expectedRead(500, 4));
    EXPECT_TRUE(pctool::readFrames(b, 1, 100ms).empty());

    // A client that goes away leaves the others working.
    ::close(a);
    EXPECT_EQ(payload(ask(b, readReq(700, 1))), expectedRead(700, 1));
    ::close(b);
}

TEST_F(TcpLinkTest, CardRepliesGoToTheConnectionThatAskedAndNeverToALaterOne)
{
    int a = tcpConnect(5005), b = tcpConnect(5005);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    // Command 2 is acknowledged at once with status 0.
    Bytes ack = ask(a, cardFrame(2, Bytes(12, 0x11)));
    ASSERT_EQ(ack.size(), 12u);
    EXPECT_EQ(ack[10], 0);
    EXPECT_EQ(ack[0], uint8_t(pctool::PC));

    // A card frame from A, then a controller frame from B: the card reply goes to A.
    ASSERT_TRUE(pctool::writeAll(a, cardFrame(0x10)));
    ASSERT_TRUE(zemtest::waitFor([&] { return net->state() == networkManage::WaitingCard; }, 2000ms, 1ms));
    EXPECT_EQ(g_passby_trans_port.load(), 2);
    fpga[0]->queueCardReply(0, cardReply(1));
    EXPECT_EQ(pctool::decode(pctool::readFrames(a, 1, zemtest::patience(2000ms))), cardReply(1));
    EXPECT_TRUE(pctool::readFrames(b, 1, 100ms).empty());

    // A's next card frame, then A leaves and C connects (it may get A's
    // descriptor number): the late card reply reaches nobody.
    ASSERT_TRUE(pctool::writeAll(a, cardFrame(0x10)));
    ASSERT_TRUE(zemtest::waitFor([&] { return net->state() == networkManage::WaitingCard; }, 2000ms, 1ms));
    ::close(a);
    int c = tcpConnect(5005);
    ASSERT_GE(c, 0);
    EXPECT_EQ(payload(ask(c, readReq(42, 2))), expectedRead(42, 2));
    fpga[0]->queueCardReply(0, cardReply(2));
    ASSERT_TRUE(zemtest::waitFor([&] { return card->reply_ready.load() == 0 && net->state() == networkManage::Idle; },
                                 2000ms, 1ms));
    EXPECT_TRUE(pctool::readFrames(c, 1, 100ms).empty());
    EXPECT_TRUE(pctool::readFrames(b, 1, 50ms).empty());
    ::close(b);
    ::close(c);
}

TEST_F(TcpLinkTest, FiftyClientsAtOnceWithRequestsSplitAtRandom)
{
    constexpr int CLIENTS = 50, PAIRS = 500;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < CLIENTS; ++i) {
        threads.emplace_back([&, i] {
            int fd = tcpConnect(5005);
            if (fd < 0)
                return;
            std::mt19937 rnd{uint32_t(i)};
            for (int k = 0; k < PAIRS; ++k) {
                uint32_t address = uint32_t(i * 61 + k * 7) % 4000;
                uint16_t len = uint16_t(1 + (i + k) % 16);
                Bytes wire = readReq(address, len);
                size_t cut = 1 + rnd() % (wire.size() - 1);
                if (!pctool::writeAll(fd, Bytes(wire.begin(), wire.begin() + cut)) ||
                    !pctool::writeAll(fd, Bytes(wire.begin() + cut, wire.end())))
                    break;
                Bytes reply = pctool::decode(pctool::readFrames(fd, 1, zemtest::patience(5000ms)));
                Bytes expect{0};
                for (uint32_t j = 0; j < len; ++j)
                    expect.push_back(uint8_t((address + j) * 7 + 3));
                if (payload(reply) != expect)
                    break;
                ++good;
            }
            ::close(fd);
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(good.load(), CLIENTS * PAIRS);
}

// Clients that stop reading their replies must not hold up anyone else on
// the port: their replies wait in their own queues, and a client whose queue
// would pass its cap is dropped.
TEST_F(TcpLinkTest, ClientsThatStopReadingHoldUpNoOtherClient)
{
    Bytes burst;
    for (int i = 0; i < 80; ++i) {
        const Bytes big = readReq(0, 60000);
        burst.insert(burst.end(), big.begin(), big.end());
    }
    for (int port : {5005, 10002}) {
        SCOPED_TRACE(port);
        std::vector<int> idle;
        for (int i = 0; i < 8; ++i) {
            int fd = tcpConnect(port, zemtest::patience(5s), 4096);
            ASSERT_GE(fd, 0);
            ASSERT_TRUE(pctool::writeAll(fd, burst));
            idle.push_back(fd);
        }
        int reader = tcpConnect(port);
        ASSERT_GE(reader, 0);
        EXPECT_EQ(payload(ask(reader, readReq(100, 4), zemtest::patience(3000ms))), expectedRead(100, 4));
        for (int fd : idle) {
            EXPECT_TRUE(zemtest::closedByPeer(fd, zemtest::patience(10s)));
            ::close(fd);
        }
        ::close(reader);
    }
}

// Connections that say nothing must not lock a full port for good: a
// newcomer takes the place of the connection that has gone longest without a
// whole frame, once that one has been idle for the limit; while none has, the
// newcomer is turned away as before.
TEST_F(TcpLinkTest, AFullPortMakesRoomByClosingItsIdlestConnection)
{
    net->set_idle_limit(std::chrono::hours(1));
    std::vector<int> held;
    for (size_t i = 0; i < TcpServer::MAX_CLIENTS; ++i) {
        held.push_back(tcpConnect(10002));
        ASSERT_EQ(payload(ask(held.back(), readReq(uint32_t(i), 1))), expectedRead(uint32_t(i), 1));
    }
    // The first asks again: the second is now the one idle longest.
    ASSERT_FALSE(ask(held[0], readReq(0, 1)).empty());

    int early = tcpConnect(10002);
    EXPECT_TRUE(zemtest::closedByPeer(early, zemtest::patience(2s)));
    ::close(early);

    net->set_idle_limit(0ms);
    int late = tcpConnect(10002);
    ASSERT_GE(late, 0);
    EXPECT_EQ(payload(ask(late, readReq(77, 2))), expectedRead(77, 2));
    EXPECT_TRUE(zemtest::closedByPeer(held[1], zemtest::patience(2s)));
    EXPECT_FALSE(ask(held[0], readReq(5, 1)).empty());
    EXPECT_FALSE(ask(held[2], readReq(5, 1)).empty());
    ::close(late);
    for (int fd : held)
        ::close(fd);
}

// The command port marks the PC tool active for every frame it un-escapes,
// even one whose XOR is wrong; port 10002 never does.
TEST_F(TcpLinkTest, OnlyTheCommandPortMarksThePcToolActive)
{
    pc_cmd_valid = 0;
    int ctl = tcpConnect(10002);
    ASSERT_GE(ctl, 0);
    EXPECT_FALSE(ask(ctl, pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, 1))).empty());
    EXPECT_EQ(pc_cmd_valid.load(), 0);
    ::close(ctl);

    Bytes bad = pctool::withXor(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    bad.back() ^= 0x01;
    int cmd = tcpConnect(5005);
    ASSERT_GE(cmd, 0);
    EXPECT_TRUE(ask(cmd, pctool::frameRaw(bad), 200ms).empty());
    EXPECT_TRUE(zemtest::waitFor([] { return pc_cmd_valid == 1; }, 2000ms, 1ms));
    ::close(cmd);
}

// With every descriptor in use a new connection cannot be accepted. It must
// be turned away rather than left waiting, where it keeps the listening
// socket readable and the port's thread spinning.
TEST_F(NetTest, AConnectionBeyondTheDescriptorLimitIsTurnedAway)
{
    TcpServer server;
    ASSERT_EQ(server.initialize(15005), 0);
    int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = ::dup(client)) >= 0;)
        filler.push_back(fd);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(15005);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);

    bool closed = false;
    auto until = std::chrono::steady_clock::now() + zemtest::patience(2s);
    while (!closed && std::chrono::steady_clock::now() < until) {
        server.recvData(10);
        pollfd p{client, POLLIN, 0};
        char c;
        closed = ::poll(&p, 1, 0) == 1 && ::recv(client, &c, 1, MSG_DONTWAIT) == 0;
    }
    for (int fd : filler)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(closed);
    EXPECT_EQ(server.client_count(), 0u);

    // Once descriptors are free again connections are taken as before.
    int again = tcpConnect(15005);
    ASSERT_GE(again, 0);
    until = std::chrono::steady_clock::now() + zemtest::patience(2s);
    while (server.client_count() == 0 && std::chrono::steady_clock::now() < until)
        server.recvData(10);
    EXPECT_EQ(server.client_count(), 1u);
    ::close(again);
    ::close(client);
}

// A PC tool that vanishes without closing (cable pulled) must not keep its
// connection for good: accepted sockets probe the peer when idle.
TEST_F(NetTest, AcceptedConnectionsProbeAVanishedPeer)
{
    TcpServer server;
    ASSERT_EQ(server.initialize(15006), 0);
    int client = tcpConnect(15006);
    ASSERT_GE(client, 0);
    auto until = std::chrono::steady_clock::now() + zemtest::patience(2s);
    while (server.client_count() == 0 && std::chrono::steady_clock::now() < until)
        server.recvData(10);
    ASSERT_EQ(server.client_count(), 1u);
    const int fd = server.socket_of(1);
    ASSERT_GE(fd, 0);
    auto option = [fd](int level, int name) {
        int v = -1;
        socklen_t len = sizeof v;
        EXPECT_EQ(::getsockopt(fd, level, name, &v, &len), 0);
        return v;
    };
    EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), TcpServer::KEEPALIVE_IDLE_S);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), TcpServer::KEEPALIVE_INTERVAL_S);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), TcpServer::KEEPALIVE_COUNT);
    ::close(client);
}

namespace {

// Runs the server's loop until `done` holds or two seconds pass.
bool serveUntil(TcpServer &server, const std::function<bool()> &done)
{
    const auto until = std::chrono::steady_clock::now() + zemtest::patience(2s);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        server.recvData(10);
    }
    return true;
}

} // namespace

// What a client's socket cannot take at once waits in that connection's
// queue and follows in order as the client reads; a client whose queue would
// pass the cap is dropped instead of holding the port.
TEST_F(NetTest, RepliesAClientCannotTakeAtOnceWaitInItsOwnQueue)
{
    TcpServer server;
    ASSERT_EQ(server.initialize(15007), 0);
    int client = tcpConnect(15007, zemtest::patience(5s), 4096);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(serveUntil(server, [&] { return server.client_count() == 1; }));
    const uint64_t conn = 1;

    // A running pattern, so that a byte out of order shows.
    Bytes block(48 * 1024);
    size_t total = 0;
    auto next = [&] {
        for (uint8_t &b : block)
            b = uint8_t(total++ % 251);
    };
    while (server.queued(conn) == 0 && total < (64u << 20)) {
        next();
        ASSERT_EQ(server.sendTo(conn, block.data(), uint32_t(block.size())), 0);
    }
    ASSERT_GT(server.queued(conn), 0u);

    size_t got = 0, wrong = 0;
    std::thread reader([&] {
        uint8_t buf[65536];
        while (got < total) {
            ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; ++i, ++got)
                wrong += buf[i] != uint8_t(got % 251);
        }
    });
    EXPECT_TRUE(serveUntil(server, [&] { return server.queued(conn) == 0; }));
    reader.join();
    EXPECT_EQ(got, total);
    EXPECT_EQ(wrong, 0u);

    // Now it stops reading: once its queue would pass the cap it is dropped.
    uint8_t result = 0;
    while (result == 0 && server.client_count() == 1) {
        next();
        result = server.sendTo(conn, block.data(), uint32_t(block.size()));
        EXPECT_LE(server.queued(conn), TcpServer::REPLY_QUEUE_MAX);
    }
    EXPECT_EQ(result, 255);
    EXPECT_EQ(server.client_count(), 0u);
    EXPECT_EQ(server.take_closed(), std::vector<uint64_t>{conn});
    ::close(client);
}

// A port serves a bounded number of connections: further ones are accepted
// and closed at once, and each burst of them is reported once.
TEST_F(NetTest, ConnectionsBeyondTheCapAreTurnedAwayAndReportedOncePerBurst)
{
    TcpServer server;
    ASSERT_EQ(server.initialize(15008), 0);
    server.set_idle_limit(std::chrono::hours(1));   // none of them makes room
    std::vector<int> kept;
    for (size_t i = 0; i < TcpServer::MAX_CLIENTS; ++i)
        kept.push_back(tcpConnect(15008));
    ASSERT_TRUE(serveUntil(server, [&] { return server.client_count() == TcpServer::MAX_CLIENTS; }));

    auto burst = [&](int count) {
        int turnedAway = 0;
        for (int i = 0; i < count; ++i) {
            int fd = tcpConnect(15008);
            turnedAway += serveUntil(server, [&] { return zemtest::closedByPeer(fd, 1ms); });
            ::close(fd);
        }
        return turnedAway;
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(burst(3), 3);
    EXPECT_EQ(server.client_count(), TcpServer::MAX_CLIENTS);
    // One leaves: the next connection is served and the burst is over.
    ::close(kept.back());
    kept.pop_back();
    ASSERT_TRUE(serveUntil(server, [&] { return server.client_count() == TcpServer::MAX_CLIENTS - 1; }));
    kept.push_back(tcpConnect(15008));
    ASSERT_TRUE(serveUntil(server, [&] { return server.client_count() == TcpServer::MAX_CLIENTS; }));
    EXPECT_EQ(burst(2), 2);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;
    EXPECT_NE(report.find("TCP port 15008: 64 connections in use"), std::string::npos) << report;
    for (int fd : kept)
        ::close(fd);
}
