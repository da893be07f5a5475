// Request -> reply latency of the controller ports, TCP 10002 and UDP 10005,
// for a 4-byte and a 1 KiB RAM read, side by side with a plain epoll echo
// server that reads the same request bytes and answers with the same number
// of bytes. The port's thread, the echo's thread and the client are pinned to
// one processor, so that each round trip costs what the server does and its
// system calls, not where the scheduler puts the threads. Round trips of the
// link and of the echo alternate, so that both see the same machine.
// Counters: the link's and the echo's median and 99th percentile in
// microseconds, and the ratios (targets: p50 at most 1.05, p99 at most 1.2).
// Runs in a private network namespace (the ports are fixed).

#include "app/zemrampara.h"
#include "support/inprocess_ports.h"
#include "support/pc_sockets.h"
#include "support/pctool.h"
#include "support/pinning.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int ROUND_TRIPS = 20000;

// The RAM read request as the PC tool sends it (image bytes from 0).
Bytes ramRead(uint16_t len)
{
    return pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, len));
}

// The two controller ports of the program, in this process, with image
// bytes that need escapes in the reply, as real data do.
zemtest::InProcessPorts &device()
{
    static bool filled = false;
    zemtest::InProcessPorts &d = zemtest::inProcessPorts();
    if (d.ok && !filled) {
        ZemRamPara *store = ZemRamPara::pInstance();
        for (int i = 0; i < 4096; ++i)
            store->ram_para[i] = uint8_t(i);
        filled = true;
    }
    return d;
}

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    return a;
}

int boundSocket(int type)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return fd;
}

int portOf(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// Plain epoll echo server on loopback: takes requests of `requestLen` bytes
// and answers each with `replyLen` bytes, on TCP (one connection) or UDP.
class Echo
{
public:
    Echo(bool tcp, size_t requestLen, size_t replyLen, int cpu)
        : m_tcp(tcp), m_in(65536), m_out(replyLen, 0x11), m_requestLen(requestLen)
    {
        m_fd = boundSocket(tcp ? SOCK_STREAM : SOCK_DGRAM);
        if (tcp)
            ::listen(m_fd, 1);
        m_stop = eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this, cpu] {
            zemtest::pinThread(0, cpu);
            serve();
        });
    }
    ~Echo()
    {
        uint64_t one = 1;
        if (::write(m_stop, &one, sizeof one) < 0) {
        }
        m_thread.join();
        ::close(m_fd);
        ::close(m_stop);
    }
    int port() const { return portOf(m_fd); }

private:
    void serve()
    {
        int ep = epoll_create1(EPOLL_CLOEXEC);
        int conn = m_tcp ? ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC) : m_fd;
        if (m_tcp) {
            int one = 1;
            setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        epoll_event ev{EPOLLIN, {}};
        ev.data.fd = conn;
        epoll_ctl(ep, EPOLL_CTL_ADD, conn, &ev);
        ev.data.fd = m_stop;
        epoll_ctl(ep, EPOLL_CTL_ADD, m_stop, &ev);
        size_t got = 0;
        for (;;) {
            epoll_event e;
            if (epoll_wait(ep, &e, 1, -1) != 1)
                continue;
            if (e.data.fd == m_stop)
                break;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = ::recvfrom(conn, m_in.data(), m_in.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n <= 0)
                break;
            got += size_t(n);
            if (got < m_requestLen)
                continue;
            got = 0;
            ::sendto(conn, m_out.data(), m_out.size(), MSG_NOSIGNAL, m_tcp ? nullptr : reinterpret_cast<sockaddr *>(&from),
                     m_tcp ? 0 : len);
        }
        if (m_tcp)
            ::close(conn);
        ::close(ep);
    }

    bool m_tcp;
    Bytes m_in, m_out;
    size_t m_requestLen;
    int m_fd = -1, m_stop = -1;
    std::thread m_thread;
};

// A client of one server: TCP connected with Nagle off, or UDP connected.
int client(bool tcp, int port)
{
    if (tcp)
        return zemtest::tcpConnect(port);
    int fd = boundSocket(SOCK_DGRAM);
    sockaddr_in a = loopback(port);
    ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return fd;
}

// One request -> a reply of `replyLen` bytes; microseconds, or -1 when the
// reply did not come.
double roundTrip(int fd, const Bytes &req, Bytes &reply, size_t replyLen)
{
    const auto t0 = Clock::now();
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    for (size_t got = 0; got < replyLen;) {
        ssize_t r = ::recv(fd, reply.data() + got, reply.size() - got, 0);
        if (r <= 0)
            return -1;
        got += size_t(r);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// The link's reply length to the request (the echo answers as many bytes).
size_t replyLength(int fd, const Bytes &req)
{
    Bytes reply(65536);
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    size_t got = 0;
    while (got == 0 || reply[got - 1] != 0x5A) {
        ssize_t r = ::recv(fd, reply.data() + got, reply.size() - got, 0);
        if (r <= 0)
            return 0;
        got += size_t(r);
    }
    return got;
}

double percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

void latency(benchmark::State &state, bool tcp)
{
    zemtest::InProcessPorts &d = device();
    if (!d.ok) {
        state.SkipWithError("no private network namespace or the ports did not open");
        return;
    }
    const int cpu = zemtest::sharedCpu();
    const pid_t server = zemtest::threadNamed(tcp ? "tcp-10002" : "udp-10005");
    if (!server) {
        state.SkipWithError("the port's thread has no name");
        return;
    }
    zemtest::pinThread(server, cpu);
    zemtest::pinThread(0, cpu);

    const Bytes req = ramRead(uint16_t(state.range(0)));
    int linkFd = client(tcp, tcp ? int(networkManage::CONTROLLER_PORT) : int(udpnetManage::CONTROLLER_PORT));
    const size_t replyLen = replyLength(linkFd, req);
    if (replyLen == 0) {
        state.SkipWithError("the port did not answer");
        return;
    }
    Echo echo(tcp, req.size(), replyLen, cpu);
    int echoFd = client(tcp, echo.port());

    Bytes reply(replyLen + 16);
    std::vector<double> link, plain;
    link.reserve(ROUND_TRIPS);
    plain.reserve(ROUND_TRIPS);
    for (auto _ : state) {
        double a = roundTrip(linkFd, req, reply, replyLen), b = roundTrip(echoFd, req, reply, replyLen);
        if (a < 0 || b < 0) {
            state.SkipWithError("no reply");
            break;
        }
        link.push_back(a);
        plain.push_back(b);
    }
    ::close(linkFd);
    ::close(echoFd);
    if (link.empty())
        return;
    const double lp50 = percentile(link, 0.5), lp99 = percentile(link, 0.99);
    const double ep50 = percentile(plain, 0.5), ep99 = percentile(plain, 0.99);
    state.counters["link_p50_us"] = lp50;
    state.counters["echo_p50_us"] = ep50;
    state.counters["p50_ratio"] = lp50 / ep50;
    state.counters["link_p99_us"] = lp99;
    state.counters["echo_p99_us"] = ep99;
    state.counters["p99_ratio"] = lp99 / ep99;
    state.counters["reply_bytes"] = double(replyLen);
}

void BM_Tcp10002RamRead(benchmark::State &state) { latency(state, true); }
void BM_Udp10005RamRead(benchmark::State &state) { latency(state, false); }

} // namespace

BENCHMARK(BM_Tcp10002RamRead)->Arg(4)->Arg(1024)->Iterations(ROUND_TRIPS)->UseRealTime();
BENCHMARK(BM_Udp10005RamRead)->Arg(4)->Arg(1024)->Iterations(ROUND_TRIPS)->UseRealTime();
BENCHMARK_MAIN();
