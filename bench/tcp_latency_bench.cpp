// Request -> reply latency of the TCP command port on loopback for a 4-byte
// and a 1 KiB RAM read, side by side with a plain TCP echo that moves the
// same bytes each way (the request frame in, a reply of the link's reply
// length out). The ratio of the medians is the link's own cost.

#include "app/global.h"
#include "app/zemrampara.h"
#include "platform/platform.h"
#include "platform/timing.h"
#include "protocol/networkmanage.h"
#include "support/pc_sockets.h"
#include "support/pctool.h"

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int freePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool readExactly(int fd, uint8_t *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::recv(fd, buf + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

// The RAM read request as the PC tool sends it (image bytes from 0).
Bytes ramRead(uint16_t len)
{
    return pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, len));
}

struct Link {
    int port = 0;
    std::unique_ptr<networkManage> net;
};

Link &link()
{
    static Link l = [] {
        char tmpl[] = "/tmp/zembench-XXXXXX";
        platform::configure(platform::Mode::Sim, mkdtemp(tmpl));
        platform::setPausesEnabled(false);
        ZemRamPara *store = ZemRamPara::pInstance();
        for (int i = 0; i < 4096; ++i)
            store->ram_para[i] = uint8_t(i);   // escapes in the reply, as real data have
        Link k;
        k.port = freePort();
        g_port = k.port;
        k.net.reset(new networkManage());
        k.net->initialize();
        return k;
    }();
    return l;
}

// Plain echo server: reads the request's bytes and answers with `replyLen` bytes.
struct Echo {
    int port = 0;
    int listenFd = -1;
    std::thread thread;
    size_t requestLen = 0, replyLen = 0;

    Echo(size_t req, size_t rep) : requestLen(req), replyLen(rep)
    {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(listenFd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        ::listen(listenFd, 4);
        thread = std::thread([this] {
            int fd = ::accept(listenFd, nullptr, nullptr);
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Bytes in(requestLen), out(replyLen, 0x11);
            while (readExactly(fd, in.data(), in.size()))
                if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) < 0)
                    break;
            ::close(fd);
        });
    }
    ~Echo()
    {
        thread.join();
        ::close(listenFd);
    }
};

size_t linkReplyLen(uint16_t len)
{
    int fd = zemtest::tcpConnect(link().port);
    Bytes req = ramRead(len), buf(65536);
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    size_t got = 0;
    while (got == 0 || buf[got - 1] != 0x5A) {
        ssize_t r = ::recv(fd, buf.data() + got, buf.size() - got, 0);
        if (r <= 0)
            break;
        got += size_t(r);
    }
    ::close(fd);
    return got;
}

// Times one request -> reply round trip per iteration on a connected stream.
void roundTrips(benchmark::State &state, int fd, const Bytes &req, size_t replyLen)
{
    Bytes reply(replyLen);
    for (auto _ : state) {
        ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        if (!readExactly(fd, reply.data(), replyLen)) {
            state.SkipWithError("no reply");
            break;
        }
    }
    ::close(fd);
    state.counters["reply_bytes"] = double(replyLen);
}

void BM_TcpLinkRamRead(benchmark::State &state)
{
    uint16_t len = uint16_t(state.range(0));
    roundTrips(state, zemtest::tcpConnect(link().port), ramRead(len), linkReplyLen(len));
}

void BM_TcpEchoSameSizes(benchmark::State &state)
{
    uint16_t len = uint16_t(state.range(0));
    size_t replyLen = linkReplyLen(len);
    Bytes req = ramRead(len);
    Echo echo(req.size(), replyLen);
    roundTrips(state, zemtest::tcpConnect(echo.port), req, replyLen);
}

} // namespace

BENCHMARK(BM_TcpLinkRamRead)->Arg(4)->Arg(1024)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_TcpEchoSameSizes)->Arg(4)->Arg(1024)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK_MAIN();
