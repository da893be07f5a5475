#ifndef TESTS_E2E_E2E_FIXTURE_H
#define TESTS_E2E_E2E_FIXTURE_H

// The real zemR47N in simulation, inside this test's private network
// namespace, driven over its real ports and pseudo-terminals as the PC tool
// drives it. One fixture per test: a private root, the binary started once,
// the PC tool's sockets and serial lines.

#include "support/device_process.h"
#include "support/netns.h"
#include "support/pctool.h"
#include "support/temp_root.h"

#include <arpa/inet.h>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {

using pctool::Bytes;
using namespace std::chrono_literals;

inline std::string nsLink(const char *path)
{
    char buf[PATH_MAX] = {0};
    ssize_t n = readlink(path, buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// Reply data after the 10-byte header, without the XOR.
inline Bytes payload(const Bytes &reply)
{
    return reply.size() > 11 ? Bytes(reply.begin() + 10, reply.end() - 1) : Bytes();
}

inline Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// A TCP client of the PC tool on 127.0.0.1.
class TcpClient
{
public:
    explicit TcpClient(int port)
    {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(uint16_t(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
                break;
            ::close(m_fd);
            m_fd = -1;
            ::poll(nullptr, 0, 20);
        }
        int one = 1;
        if (m_fd >= 0)
            setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~TcpClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    // The reply (body with its XOR) to one request body; empty when none came.
    Bytes ask(const Bytes &body, std::chrono::milliseconds timeout = 3000ms) { return askWire(pctool::frame(body), timeout); }
    Bytes askWire(const Bytes &wire, std::chrono::milliseconds timeout = 3000ms)
    {
        if (m_fd < 0 || !pctool::writeAll(m_fd, wire))
            return {};
        return pctool::decode(pctool::readFrames(m_fd, 1, timeout));
    }

private:
    int m_fd = -1;
};

// A UDP socket of the PC tool on an ephemeral port; it also learns the
// destination address of each datagram it receives (broadcast or not).
class UdpPeer
{
public:
    UdpPeer()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        setsockopt(m_fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    ~UdpPeer() { ::close(m_fd); }

    void send(int port, const Bytes &bytes)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    // One datagram within `timeout` (empty: none).
    Bytes receive(std::chrono::milliseconds timeout, in_addr *to = nullptr)
    {
        pollfd p = {m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(timeout.count())) <= 0)
            return {};
        static uint8_t buf[65536];
        char ctl[256];
        iovec iov = {buf, sizeof buf};
        msghdr m{};
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = ctl;
        m.msg_controllen = sizeof ctl;
        ssize_t n = ::recvmsg(m_fd, &m, 0);
        if (n < 0)
            return {};
        for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
            if (to && c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                *to = reinterpret_cast<in_pktinfo *>(CMSG_DATA(c))->ipi_addr;
        return Bytes(buf, buf + n);
    }
    Bytes ask(int port, const Bytes &body, in_addr *to = nullptr, std::chrono::milliseconds timeout = 3000ms)
    {
        send(port, pctool::frame(body));
        return pctool::decode(receive(timeout, to));
    }

private:
    int m_fd = -1;
};

// The PC tool on a serial line of the device (a pseudo-terminal).
inline Bytes askPty(zemtest::PtyLink &pty, const Bytes &wire, std::chrono::milliseconds timeout = 3000ms)
{
    if (!pty.send(wire))
        return {};
    return pctool::decode(pctool::readFrames(pty.master(), 1, timeout));
}

class DeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string hostNs = nsLink("/proc/1/ns/net");
        if (!zemtest::enterPrivateNetwork())
            GTEST_SKIP() << "network namespaces cannot be created here";
        const std::string ownNs = nsLink("/proc/self/ns/net");
        if (ownNs.empty() || ownNs == hostNs)
            GTEST_SKIP() << "not inside a private network namespace";
        // Inside our own namespace only: give broadcasts a way out (eth0 and a
        // default route), as a wired controller has.
        if (std::system("ip addr add 10.77.0.1/24 dev eth0 2>/dev/null; ip route replace default dev eth0") != 0)
            GTEST_SKIP() << "cannot route inside the private namespace";
        ::mkdir(root.host("/dev").c_str(), 0755);
        ::mkdir(root.host("/sim").c_str(), 0755);
    }
    void TearDown() override
    {
        if (dev)
            dev->stop();
        dev.reset();
        rs485.reset();
        link4g.reset();
    }

    // Links the serial lines the test wants, starts the binary and waits
    // until it reports its links and the TCP ports accept.
    void start(bool withRs485, bool with4g)
    {
        if (withRs485) {
            rs485.reset(new zemtest::PtyLink(root.host("/dev/ttyS2")));
            ASSERT_TRUE(rs485->ok());
        }
        if (with4g) {
            link4g.reset(new zemtest::PtyLink(root.host("/dev/ttyS1")));
            ASSERT_TRUE(link4g->ok());
        }
        dev.reset(new zemtest::DeviceProcess(root.dir()));
        ASSERT_TRUE(zemtest::waitFor([&] { return output().find("4G module serial") != std::string::npos || !dev->running(); },
                                     30s))
            << output();
        ASSERT_TRUE(dev->running()) << output();
        const std::string out = output();
        for (const char *line : {"TCP 5005 open", "TCP 10002 open", "UDP 5008 open", "UDP 10005 open"})
            ASSERT_NE(out.find(line), std::string::npos) << line << "\n" << out;
        if (withRs485)
            ASSERT_NE(out.find("RS-485 serial " + root.host("/dev/ttyS2") + " present"), std::string::npos) << out;
        if (with4g)
            ASSERT_NE(out.find("4G module serial " + root.host("/dev/ttyS1") + " present"), std::string::npos) << out;
        ASSERT_TRUE(zemtest::waitFor([] { return zemtest::tcpPortOpen(10002); }, 5s));
    }

    std::string output() const { return dev ? dev->output() : std::string(); }
    std::string file(const std::string &absolute) const { return zemtest::readFile(root.host(absolute)); }
    bool exists(const std::string &absolute) const { return access(root.host(absolute).c_str(), F_OK) == 0; }
    std::vector<std::string> shellLog() const
    {
        std::vector<std::string> lines;
        std::istringstream in(file("/sim/shell.log"));
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
    bool shellLogged(const std::string &command) const
    {
        for (const std::string &l : shellLog())
            if (l == command)
                return true;
        return false;
    }

    zemtest::TempRoot root;
    std::unique_ptr<zemtest::PtyLink> rs485;
    std::unique_ptr<zemtest::PtyLink> link4g;
    std::unique_ptr<zemtest::DeviceProcess> dev;
};

} // namespace e2e

#endif
