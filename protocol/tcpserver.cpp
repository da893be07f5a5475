#include "protocol/tcpserver.h"

#include "app/logMsg.h"
#include "protocol/net_link.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Sends as much as the socket takes now: the count sent, or -1 when the
// connection is broken.
ssize_t sendNow(int socket, const uint8_t *data, size_t count)
{
    size_t sent = 0;
    while (sent < count) {
        ssize_t n = ::send(socket, data + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0)
            return -1;
        sent += size_t(n);
    }
    return ssize_t(sent);
}

void setKeepalive(int fd)
{
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    int idle = TcpServer::KEEPALIVE_IDLE_S, interval = TcpServer::KEEPALIVE_INTERVAL_S,
        count = TcpServer::KEEPALIVE_COUNT;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

} // namespace

// --- TcpServer ---------------------------------------------------------------

TcpServer::TcpServer() = default;

TcpServer::~TcpServer()
{
    unInitialize();
}

uint8_t TcpServer::initialize(uint32_t port)
{
    unInitialize();
    int fd = open_bound_socket(SOCK_STREAM, port, SO_REUSEADDR);
    if (fd < 0)
        return 255;
    if (::listen(fd, BACKLOG) != 0) {
        writeLogMsg(LOG_ERROR, "listen error:%m");
        debugPrint("listen error:%m\n");
        ::close(fd);
        return 255;
    }
    m_port = port;
    m_listen = fd;
    m_spare = ::eventfd(0, EFD_CLOEXEC);
    m_buf.resize(CHUNK_MAX);
    return 0;
}

void TcpServer::unInitialize()
{
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
    if (m_spare >= 0)
        ::close(m_spare);
    m_spare = -1;
    while (!m_clients.empty())
        closeClient(m_clients.begin()->first);
    std::vector<uint8_t>().swap(m_buf);
}

void TcpServer::closeClient(int socket)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    m_closed.push_back(it->second.conn);
    m_by_conn.erase(it->second.conn);
    m_clients.erase(it);
    ::close(socket);
}

void TcpServer::delete_clinetSocket(int socket)
{
    closeClient(socket);
}

std::vector<uint64_t> TcpServer::take_closed()
{
    std::vector<uint64_t> closed;
    closed.swap(m_closed);
    return closed;
}

int TcpServer::socket_of(uint64_t conn) const
{
    auto it = m_by_conn.find(conn);
    return it == m_by_conn.end() ? -1 : it->second;
}

size_t TcpServer::queued(uint64_t conn) const
{
    auto it = m_clients.find(socket_of(conn));
    return it == m_clients.end() ? 0 : it->second.waiting();
}

void TcpServer::acceptAll()
{
    for (;;) {
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors, the connection would stay waiting and keep
            // the listening socket readable: the thread would spin. Turn it away.
            if ((errno == EMFILE || errno == ENFILE) && shedConnection())
                continue;
            return;
        }
        if (m_clients.size() >= MAX_CLIENTS && !closeIdlest()) {
            refuse(fd);
            continue;
        }
        m_refusing = false;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setKeepalive(fd);
        uint64_t conn = m_next_conn++;
        Client &c = m_clients[fd];
        c.conn = conn;
        c.last_frame = Clock::now();
        m_by_conn[conn] = fd;
    }
}

// At the cap: closes the connection that has gone longest without a whole
// frame, when that is at least the idle limit; false when none is that idle.
bool TcpServer::closeIdlest()
{
    auto idlest = m_clients.end();
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it)
        if (idlest == m_clients.end() || it->second.last_frame < idlest->second.last_frame)
            idlest = it;
    if (idlest == m_clients.end() ||
        Clock::now() - idlest->second.last_frame < std::chrono::milliseconds(m_idle_limit.load()))
        return false;
    debugPrint("TCP port %u: all %zu connections in use; the idlest closed for a new one\n", m_port,
               m_clients.size());
    closeClient(idlest->first);
    return true;
}

void TcpServer::frame_seen(uint64_t conn)
{
    auto it = m_clients.find(socket_of(conn));
    if (it != m_clients.end())
        it->second.last_frame = Clock::now();
}

// A connection beyond MAX_CLIENTS is reset at once (no lingering state is
// left behind); the first of a burst is reported.
void TcpServer::refuse(int fd)
{
    linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
    if (m_refusing)
        return;
    m_refusing = true;
    writeLogMsg(LOG_ERROR, "TCP port %u: %zu connections in use, further connections refused", m_port,
                m_clients.size());
}

bool TcpServer::shedConnection()
{
    if (m_spare < 0)
        return false;
    ::close(m_spare);
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    m_spare = ::eventfd(0, EFD_CLOEXEC);
    return fd >= 0;
}

void TcpServer::readClient(int socket, const ChunkHandler &onChunk)
{
    ssize_t n = ::recv(socket, m_buf.data(), CHUNK_MAX, MSG_DONTWAIT);
    if (n > 0) {
        // The handler may send, and so drop this very client: nothing of it
        // is used afterwards.
        if (onChunk)
            onChunk(m_clients[socket].conn, m_buf.data(), uint32_t(n));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    // 0: the client has gone; an error: the connection is broken for good.
    closeClient(socket);
}

void TcpServer::flushClient(int socket)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end() || it->second.waiting() == 0)
        return;
    Client &c = it->second;
    ssize_t n = sendNow(socket, c.out.data() + c.sent, c.waiting());
    if (n < 0) {
        closeClient(socket);
        return;
    }
    c.sent += size_t(n);
    if (c.waiting() == 0) {
        std::vector<uint8_t>().swap(c.out);   // all sent: the memory goes back
        c.sent = 0;
    }
}

uint8_t TcpServer::recvData(int timeoutMs, int wakeFd, const ChunkHandler &onChunk)
{
    // Clients come before the listening socket, so that connections that
    // closed free their places before new ones are counted against the cap.
    std::vector<pollfd> &fds = m_poll;
    fds.clear();
    for (const auto &c : m_clients)
        fds.push_back({c.first, short(c.second.waiting() ? POLLIN | POLLOUT : POLLIN), 0});
    if (m_listen >= 0)
        fds.push_back({m_listen, POLLIN, 0});
    if (wakeFd >= 0)
        fds.push_back({wakeFd, POLLIN, 0});
    m_woken = false;
    int r = ::poll(fds.data(), fds.size(), timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : 255;
    for (const pollfd &p : fds) {
        if (p.revents && p.fd == wakeFd)
            m_woken = true;
        if (!p.revents || p.fd == wakeFd)
            continue;
        if (p.fd == m_listen) {
            acceptAll();
            continue;
        }
        if (p.revents & POLLOUT)
            flushClient(p.fd);
        if ((p.revents & ~POLLOUT) && m_clients.count(p.fd))
            readClient(p.fd, onChunk);
    }
    return 0;
}

uint8_t TcpServer::sendData(const uint8_t *data, uint32_t count, int socket)
{
    auto it = m_clients.find(socket);
    if (!data || count == 0 || it == m_clients.end())
        return 255;
    Client &c = it->second;
    if (c.waiting() == 0) {
        ssize_t n = sendNow(socket, data, count);
        if (n < 0) {
            closeClient(socket);
            return 255;
        }
        data += n;
        count -= uint32_t(n);
        if (count == 0)
            return 0;
    }
    // The client is not reading fast enough: queue the rest, in order after
    // what waits already; a client too far behind is dropped.
    if (c.waiting() + count > REPLY_QUEUE_MAX) {
        debugPrint("TCP port %u: a client stopped reading its replies; dropped\n", m_port);
        closeClient(socket);
        return 255;
    }
    c.out.erase(c.out.begin(), c.out.begin() + c.sent);
    c.sent = 0;
    c.out.insert(c.out.end(), data, data + count);
    return 0;
}

uint8_t TcpServer::sendTo(uint64_t conn, const uint8_t *data, uint32_t count)
{
    int socket = socket_of(conn);
    return socket < 0 ? 255 : sendData(data, count, socket);
}
