#ifndef PROTOCOL_TCPSERVER_H
#define PROTOCOL_TCPSERVER_H

// Listening TCP socket of a command port and its client connections. The
// owning thread blocks in recvData() until a connection arrives, a client
// sends bytes or closes, or the thread's wake-up descriptor is signalled.
// Every connection gets a number of its own that is never reused, so that a
// reply meant for a connection that has gone cannot reach a later client
// that happens to get the same socket descriptor.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

// One received chunk: what one recv returned on one connection.
struct TcpChunk {
    std::vector<uint8_t> data;
    uint32_t count = 0;
    int socket = -1;
    uint64_t conn = 0;
};

// Gathers command frames out of one connection's byte stream: a frame runs
// from its last 0xA5 to the next 0x5A, wherever the segments were cut, and
// every frame of a chunk is taken in order. Bytes outside a frame are
// ignored; a frame longer than the frame record is dropped.
class stream_gatherer
{
public:
    static constexpr uint32_t RECORD_SIZE = 131072;

    // Appends each completed frame (wire bytes) to `frames`. True when the
    // chunk opened or continued a frame.
    bool feed(const uint8_t *data, uint32_t n, std::vector<std::vector<uint8_t>> &frames);
    bool in_frame() const { return m_open; }

private:
    std::vector<uint8_t> m_buf;
    bool m_open = false;
};

class TcpServer
{
public:
    static constexpr uint32_t CHUNK_MAX = 131071;
    static constexpr int BACKLOG = 200;

    TcpServer();
    ~TcpServer();
    TcpServer(const TcpServer &) = delete;
    TcpServer &operator=(const TcpServer &) = delete;

    // Opens the listening socket on every address at `port`; 0, or 255.
    uint8_t initialize(uint32_t port);
    // Waits at most `timeoutMs` (-1: no limit) for a connection, client
    // bytes or `wakeFd`, then accepts and reads what is there. Chunks go to
    // chunks(), connections that went away to take_closed(). 0, or 255 on a
    // poll or accept error.
    uint8_t recvData(int timeoutMs = 0, int wakeFd = -1);
    // Sends all bytes on a client socket; 0, or 255 (no bytes, send error).
    uint8_t sendData(const uint8_t *data, uint32_t count, int socket);
    // Sends on a connection by its number. A connection that has gone gets
    // nothing (255); one whose send fails is closed, since a reply cut short
    // would leave its stream out of step.
    uint8_t sendTo(uint64_t conn, const uint8_t *data, uint32_t count);
    // Closes the listening socket and every client.
    void unInitialize();
    // Removes a client from the set and closes it.
    void delete_clinetSocket(int socket);

    std::deque<TcpChunk> &chunks() { return m_chunks; }
    // Numbers of the connections closed since the last call.
    std::vector<uint64_t> take_closed();
    bool is_open() const { return m_listen >= 0; }
    size_t client_count() const { return m_clients.size(); }
    int socket_of(uint64_t conn) const;

private:
    void acceptAll();
    void closeClient(int socket);
    void readClient(int socket);

    std::deque<TcpChunk> m_chunks;
    int m_listen = -1;
    std::map<int, uint64_t> m_clients;   // socket -> connection number
    std::map<uint64_t, int> m_by_conn;
    std::vector<uint64_t> m_closed;
    uint64_t m_next_conn = 1;
    std::vector<uint8_t> m_buf;
};

#endif
