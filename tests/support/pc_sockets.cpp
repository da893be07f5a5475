#include "support/pc_sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zemtest {

using pctool::Bytes;

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

int tcpConnect(int port, std::chrono::milliseconds wait, int receiveBuffer)
{
    const sockaddr_in a = loopback(port);
    auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && receiveBuffer > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        if (fd >= 0)
            ::close(fd);
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        ::poll(nullptr, 0, 10);
    }
}

bool closedByPeer(int fd, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<uint8_t> sink(65536);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<long long>(left.count(), 0))) <= 0)
            return false;
        ssize_t n = ::recv(fd, sink.data(), sink.size(), 0);
        if (n <= 0)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    }
}

Bytes askStream(int fd, const Bytes &wire, std::chrono::milliseconds timeout)
{
    EXPECT_TRUE(pctool::writeAll(fd, wire));
    return pctool::decode(pctool::readFrames(fd, 1, timeout));
}

UdpPeer::UdpPeer()
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

UdpPeer::~UdpPeer()
{
    ::close(m_fd);
}

void UdpPeer::send(int port, const Bytes &bytes)
{
    const sockaddr_in a = loopback(port);
    ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&a), sizeof a);
}

Bytes UdpPeer::receive(std::chrono::milliseconds timeout, in_addr *to, int *fromPort)
{
    pollfd p = {m_fd, POLLIN, 0};
    if (::poll(&p, 1, int(timeout.count())) <= 0)
        return {};
    Bytes buf(65536);
    char ctl[256];
    sockaddr_in from{};
    iovec iov = {buf.data(), buf.size()};
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
    buf.resize(size_t(n));
    return buf;
}

Bytes UdpPeer::ask(int port, const Bytes &wire, in_addr *to, std::chrono::milliseconds timeout)
{
    send(port, wire);
    return pctool::decode(receive(timeout, to));
}

} // namespace zemtest
