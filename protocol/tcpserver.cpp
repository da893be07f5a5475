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

constexpr int SEND_TIMEOUT_S = 2;   // a client that stops reading loses its reply after this

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
    m_listen = fd;
    m_spare = ::eventfd(0, EFD_CLOEXEC);
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
    m_used = 0;
}

void TcpServer::closeClient(int socket)
{
    auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    m_closed.push_back(it->second);
    m_by_conn.erase(it->second);
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

void TcpServer::acceptAll()
{
    for (;;) {
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors, the connection would stay waiting and keep
            // the listening socket readable: the thread would spin. Turn it away.
            if ((errno == EMFILE || errno == ENFILE) && shedConnection())
                continue;
            return;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{SEND_TIMEOUT_S, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        int idle = KEEPALIVE_IDLE_S, interval = KEEPALIVE_INTERVAL_S, count = KEEPALIVE_COUNT;
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
        uint64_t conn = m_next_conn++;
        m_clients[fd] = conn;
        m_by_conn[conn] = fd;
    }
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

void TcpServer::readClient(int socket)
{
    if (m_used == m_chunks.size()) {
        m_chunks.emplace_back();
        m_chunks.back().data.resize(CHUNK_MAX);
    }
    TcpChunk &c = m_chunks[m_used];
    ssize_t n = ::recv(socket, c.data.data(), CHUNK_MAX, MSG_DONTWAIT);
    if (n > 0) {
        c.count = uint32_t(n);
        c.socket = socket;
        c.conn = m_clients[socket];
        ++m_used;
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    // 0: the client has gone; an error: the connection is broken for good.
    closeClient(socket);
}

uint8_t TcpServer::recvData(int timeoutMs, int wakeFd)
{
    m_used = 0;   // the chunks of the last call have been taken
    std::vector<pollfd> &fds = m_poll;
    fds.clear();
    if (m_listen >= 0)
        fds.push_back({m_listen, POLLIN, 0});
    for (const auto &c : m_clients)
        fds.push_back({c.first, POLLIN, 0});
    if (wakeFd >= 0)
        fds.push_back({wakeFd, POLLIN, 0});
    int r = ::poll(fds.data(), fds.size(), timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : 255;
    for (const pollfd &p : fds) {
        if (!p.revents || p.fd == wakeFd)
            continue;
        if (p.fd == m_listen)
            acceptAll();
        else if (m_clients.count(p.fd))
            readClient(p.fd);
    }
    return 0;
}

uint8_t TcpServer::sendData(const uint8_t *data, uint32_t count, int socket)
{
    if (!data || count == 0 || socket < 0)
        return 255;
    uint32_t sent = 0;
    while (sent < count) {
        ssize_t n = ::send(socket, data + sent, count - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 255;
        sent += uint32_t(n);
    }
    return 0;
}

uint8_t TcpServer::sendTo(uint64_t conn, const uint8_t *data, uint32_t count)
{
    int socket = socket_of(conn);
    if (socket < 0)
        return 255;
    if (sendData(data, count, socket) != 0) {
        closeClient(socket);
        return 255;
    }
    return 0;
}
