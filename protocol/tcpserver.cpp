#include "protocol/tcpserver.h"

#include "app/logMsg.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int SEND_TIMEOUT_S = 2;   // a client that stops reading loses its reply after this

} // namespace

// --- stream_gatherer ---------------------------------------------------------

bool stream_gatherer::feed(const uint8_t *data, uint32_t n, std::vector<std::vector<uint8_t>> &frames)
{
    bool touched = m_open;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t b = data[i];
        if (b == 0xA5) {
            m_buf.assign(1, 0xA5);
            m_open = true;
            touched = true;
            continue;
        }
        if (!m_open)
            continue;
        if (m_buf.size() >= RECORD_SIZE) {
            // Longer than a frame record: dropped whole.
            m_buf.clear();
            m_open = false;
            continue;
        }
        m_buf.push_back(b);
        if (b == 0x5A) {
            frames.push_back(std::move(m_buf));
            m_buf.clear();
            m_open = false;
        }
    }
    return touched;
}

// --- TcpServer ---------------------------------------------------------------

TcpServer::TcpServer() : m_buf(CHUNK_MAX) {}

TcpServer::~TcpServer()
{
    unInitialize();
}

uint8_t TcpServer::initialize(uint32_t port)
{
    unInitialize();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, "socket error:%m");
        debugPrint("socket error:%m\n");
        return 255;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(uint16_t(port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        writeLogMsg(LOG_ERROR, "bind error:%m");
        debugPrint("bind error:%m\n");
        ::close(fd);
        return 255;
    }
    if (::listen(fd, BACKLOG) != 0) {
        writeLogMsg(LOG_ERROR, "listen error:%m");
        debugPrint("listen error:%m\n");
        ::close(fd);
        return 255;
    }
    m_listen = fd;
    return 0;
}

void TcpServer::unInitialize()
{
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
    while (!m_clients.empty())
        closeClient(m_clients.begin()->first);
    m_chunks.clear();
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
        if (fd < 0)
            return;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{SEND_TIMEOUT_S, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        uint64_t conn = m_next_conn++;
        m_clients[fd] = conn;
        m_by_conn[conn] = fd;
    }
}

void TcpServer::readClient(int socket)
{
    ssize_t n = ::recv(socket, m_buf.data(), CHUNK_MAX, MSG_DONTWAIT);
    if (n > 0) {
        TcpChunk c;
        c.data.assign(m_buf.begin(), m_buf.begin() + n);
        c.count = uint32_t(n);
        c.socket = socket;
        c.conn = m_clients[socket];
        m_chunks.push_back(std::move(c));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    // 0: the client has gone; an error: the connection is broken for good.
    closeClient(socket);
}

uint8_t TcpServer::recvData(int timeoutMs, int wakeFd)
{
    std::vector<pollfd> fds;
    fds.reserve(m_clients.size() + 2);
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
