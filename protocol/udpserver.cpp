#include "protocol/udpserver.h"

#include "protocol/net_link.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// --- packet_gatherer ---------------------------------------------------------

bool packet_gatherer::feed(const uint8_t *data, uint32_t n, std::vector<uint8_t> &frame, bool &complete)
{
    complete = false;
    if (n < MIN_DATAGRAM)
        return false;
    if (data[0] == 0xA5) {
        m_buf.assign(data, data + n);
        m_open = true;
    } else if (m_open) {
        m_buf.insert(m_buf.end(), data, data + n);
    } else {
        return false;
    }
    if (m_buf.size() > RECORD_SIZE) {
        // Longer than a frame record: dropped whole.
        m_buf.clear();
        m_open = false;
        return true;
    }
    if (data[n - 1] == 0x5A) {
        frame.swap(m_buf);
        m_buf.clear();
        m_open = false;
        complete = true;
    }
    return true;
}

// --- UdpServer ---------------------------------------------------------------

UdpServer::UdpServer() : m_buf(DATAGRAM_MAX) {}

UdpServer::~UdpServer()
{
    unInitialize();
}

uint8_t UdpServer::initialize(uint32_t port)
{
    unInitialize();
    int fd = open_bound_socket(SOCK_DGRAM, port, SO_BROADCAST);
    if (fd < 0)
        return 255;
    m_socket = fd;
    return 0;
}

void UdpServer::unInitialize()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_queue.clear();
}

bool UdpServer::wait(int timeoutMs, int wakeFd)
{
    pollfd fds[2];
    nfds_t n = 0;
    int sock = -1;
    if (m_socket >= 0) {
        sock = int(n);
        fds[n++] = {m_socket, POLLIN, 0};
    }
    if (wakeFd >= 0)
        fds[n++] = {wakeFd, POLLIN, 0};
    int r = ::poll(fds, n, timeoutMs);
    return r > 0 && sock >= 0 && (fds[sock].revents & POLLIN);
}

uint8_t UdpServer::recvData(uint8_t keepSender)
{
    if (m_socket < 0)
        return 0;
    // Bounded, so that a flood cannot keep the thread from answering.
    for (int i = 0; i < 256; ++i) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(m_socket, m_buf.data(), DATAGRAM_MAX, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr *>(&from), &len);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return 0;
            return 255;
        }
        if (n == 0)
            continue;
        UdpDatagram d;
        d.data.assign(m_buf.begin(), m_buf.begin() + n);
        d.count = uint32_t(n);
        d.from = from;
        d.addr = from;
        if (!keepSender)
            d.addr.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        m_queue.push_back(std::move(d));
    }
    return 0;
}

uint8_t UdpServer::sendData(const uint8_t *data, uint32_t count, const sockaddr_in &to)
{
    if (!data || count == 0 || m_socket < 0)
        return 255;
    ssize_t n = ::sendto(m_socket, data, count, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    return n < 0 ? 255 : 0;
}
