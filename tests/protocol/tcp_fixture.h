#ifndef TESTS_PROTOCOL_TCP_FIXTURE_H
#define TESTS_PROTOCOL_TCP_FIXTURE_H

// Sockets as the PC tool uses them, for the network link tests. Every test
// runs in a private network namespace, so the links open their real ports.

#include "proto_fixture.h"
#include "support/device_process.h"
#include "support/netns.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {

using pctool::Bytes;

// Base fixture: a private network namespace in which a broadcast has a way
// out (eth0 with an address and the default route), then the protocol set-up.
class NetTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        if (!zemtest::enterPrivateNetwork())
            GTEST_SKIP() << "no private network namespace";
        static const bool routed = std::system("ip addr add 10.77.0.1/24 dev eth0 2>/dev/null; "
                                               "ip route replace default dev eth0") == 0;
        ASSERT_TRUE(routed);
        ProtoTest::SetUp();
    }
};

inline int tcpConnect(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::close(fd);
            return -1;
        }
        ::close(fd);
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::poll(nullptr, 0, 10);
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Body of the reply to one request on a connected stream (empty: none).
inline Bytes ask(int fd, const Bytes &wire, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000))
{
    EXPECT_TRUE(pctool::writeAll(fd, wire));
    return pctool::decode(pctool::readFrames(fd, 1, timeout));
}

// Reply data after the header (status and payload), without the XOR.
inline Bytes payload(const Bytes &reply)
{
    return reply.size() > 11 ? Bytes(reply.begin() + 10, reply.end() - 1) : Bytes();
}

// A UDP socket of the PC tool, bound to an ephemeral port, that also learns
// the destination address of what it receives.
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
        socklen_t len = sizeof a;
        getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~UdpPeer() { ::close(m_fd); }
    int port() const { return m_port; }

    void send(int port, const Bytes &bytes)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }

    // One datagram within `timeout` (empty: none); `to` gets its destination address.
    Bytes receive(std::chrono::milliseconds timeout, in_addr *to = nullptr, int *fromPort = nullptr)
    {
        pollfd p = {m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(timeout.count())) <= 0)
            return {};
        uint8_t buf[65536];
        char ctl[256];
        sockaddr_in from{};
        iovec iov = {buf, sizeof buf};
        msghdr m{};
        m.msg_name = &from;
        m.msg_namelen = sizeof from;
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
        if (fromPort)
            *fromPort = ntohs(from.sin_port);
        return Bytes(buf, buf + n);
    }

    // Body of the reply to one request (empty: none).
    Bytes ask(int port, const Bytes &wire, in_addr *to = nullptr,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(2000))
    {
        send(port, wire);
        return pctool::decode(receive(timeout, to));
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

inline bool isBroadcast(const in_addr &a) { return a.s_addr == htonl(INADDR_BROADCAST); }
inline bool isLoopback(const in_addr &a) { return a.s_addr == htonl(INADDR_LOOPBACK); }

// A card frame from the PC tool to receiving card 1.
inline Bytes cardFrame(uint8_t cmd, const Bytes &payload = {1, 2, 3})
{
    return pctool::frame(pctool::body(0x0001, pctool::PC, cmd, 0, payload));
}

// A receiving card's reply as the FPGA hands it over (body with its XOR).
inline Bytes cardReply(uint8_t tag)
{
    return pctool::withXor(pctool::body(pctool::PC, 0x0001, 0x10, 0, {0xA5, tag, 0x5A}));
}

} // namespace nettest

#endif
