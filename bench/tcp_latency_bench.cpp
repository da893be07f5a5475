// Request -> reply latency of the TCP command port on loopback for a 4-byte
// and a 1 KiB RAM read, side by side with a plain TCP echo that moves the
// same bytes each way (the request frame in, a reply of the link's reply
// length out). The ratio of the medians is the link's own cost.

#include "app/global.h"
#include "app/zemrampara.h"
#include "platform/platform.h"
#include "platform/timing.h"
#include "protocol/networkmanage.h"

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

int connectTo(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 500 && ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0; ++i) {
        ::close(fd);
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::poll(nullptr, 0, 10);
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
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

Bytes ramRead(uint16_t len)
{
    Bytes b = {0x01, 0xF1, 0x10, 0xF0, 7, 0, 0, 0, 0, 0x61, 0x00, 0x01, 0x00, 0x00, uint8_t(len), uint8_t(len >> 8)};
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    b.push_back(x);
    Bytes w = {0xA5};
    for (uint8_t v : b) {
        if (v == 0xA5 || v == 0xA6 || v == 0x5A || v == 0x5B) {
            w.push_back(v == 0xA5 || v == 0xA6 ? 0xA6 : 0x5B);
            w.push_back(v == 0xA5 || v == 0x5A ? 0x02 : 0x01);
        } else {
            w.push_back(v);
        }
    }
    w.push_back(0x5A);
    return w;
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
    int fd = connectTo(link().port);
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

void BM_TcpLinkRamRead(benchmark::State &state)
{
    uint16_t len = uint16_t(state.range(0));
    size_t replyLen = linkReplyLen(len);
    int fd = connectTo(link().port);
    Bytes req = ramRead(len), reply(replyLen);
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

void BM_TcpEchoSameSizes(benchmark::State &state)
{
    uint16_t len = uint16_t(state.range(0));
    size_t replyLen = linkReplyLen(len);
    Bytes req = ramRead(len), reply(replyLen);
    Echo echo(req.size(), replyLen);
    int fd = connectTo(echo.port);
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

} // namespace

BENCHMARK(BM_TcpLinkRamRead)->Arg(4)->Arg(1024)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_TcpEchoSameSizes)->Arg(4)->Arg(1024)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK_MAIN();
