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
    m_out.clear();
    m_out_bytes = 0;
}

bool UdpServer::wait(int timeoutMs, int wakeFd)
{
    pollfd fds[2];
    nfds_t n = 0;
    int sock = -1;
    if (m_socket >= 0) {
        sock = int(n);
        fds[n++] = {m_socket, short(m_out.empty() ? POLLIN : POLLIN | POLLOUT), 0};
    }
    if (wakeFd >= 0)
        fds[n++] = {wakeFd, POLLIN, 0};
    int r = ::poll(fds, n, timeoutMs);
    m_woken = r > 0 && wakeFd >= 0 && fds[n - 1].revents;
    return r > 0 && sock >= 0 && (fds[sock].revents & POLLIN);
}

uint8_t UdpServer::recvData(uint8_t keepSender)
{
    if (m_socket < 0)
        return 0;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(m_socket, m_buf.data(), DATAGRAM_MAX, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from),
                           &len);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : 255;
    if (n == 0)
        return 0;
    UdpDatagram d;
    d.data.assign(m_buf.begin(), m_buf.begin() + n);
    d.count = uint32_t(n);
    d.from = from;
    d.addr = from;
    if (!keepSender)
        d.addr.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    m_queue.push_back(std::move(d));
    return 0;
}

UdpServer::Sent UdpServer::sendNow(const uint8_t *data, uint32_t count, const sockaddr_in &to)
{
    for (;;) {
        ssize_t n = ::sendto(m_socket, data, count, MSG_NOSIGNAL | MSG_DONTWAIT,
                             reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (n >= 0)
            return Sent::Whole;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Sent::Later : Sent::Failed;
    }
}

uint8_t UdpServer::sendData(const uint8_t *data, uint32_t count, const sockaddr_in &to)
{
    if (!data || count == 0 || m_socket < 0)
        return 255;
    if (m_out.empty()) {
        Sent s = sendNow(data, count, to);
        if (s != Sent::Later)
            return s == Sent::Whole ? 0 : 255;
    }
    // The socket has no room now (or answers wait already): queue it in order.
    if (m_out_bytes + count > REPLY_QUEUE_MAX)
        return 255;
    UdpDatagram d;
    d.data.assign(data, data + count);
    d.count = count;
    d.addr = to;
    d.from = to;
    m_out.push_back(std::move(d));
    m_out_bytes += count;
    return 0;
}

void UdpServer::flush()
{
    while (!m_out.empty()) {
        const UdpDatagram &d = m_out.front();
        if (sendNow(d.data.data(), d.count, d.addr) == Sent::Later)
            return;
        m_out_bytes -= d.count;
        m_out.pop_front();   // sent, or lost for good (an error is not retried)
    }
}
