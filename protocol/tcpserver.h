#ifndef PROTOCOL_TCPSERVER_H
#define PROTOCOL_TCPSERVER_H

// Listening TCP socket of a command port and its client connections. The
// owning thread blocks in recvData() until a connection arrives, a client
// sends bytes or closes, or the thread's wake-up descriptor is signalled.
// Every connection gets a number of its own that is never reused, so that a
// reply meant for a connection that has gone cannot reach a later client
// that happens to get the same socket descriptor.

#include "protocol/protocol_phy.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <poll.h>
#include <vector>

// One received chunk: what one recv returned on one connection. The buffer
// is the server's and is reused by the next recvData.
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

    // Calls `on_frame(bytes, count)` with the wire bytes of each frame the chunk
    // completes, in order; the bytes are valid during the call only. True
    // when the chunk opened or continued a frame. Runs between frame bytes
    // are copied whole, and a frame that lies wholly in the chunk is handed
    // over from the chunk itself.
    template <class OnFrame>
    bool feed(const uint8_t *data, uint32_t n, OnFrame &&on_frame);
    bool in_frame() const { return m_open; }

private:
    void drop() { m_open = false; m_local = nullptr; m_len = 0; }
    void append(const uint8_t *p, uint32_t run);

    std::vector<uint8_t> m_buf;     // a frame carried over from earlier chunks
    const uint8_t *m_local = nullptr; // start of a frame opened in the chunk being fed
    uint32_t m_len = 0;             // bytes of the open frame so far
    bool m_open = false;
};

inline void stream_gatherer::append(const uint8_t *p, uint32_t run)
{
    if (!m_local)
        m_buf.insert(m_buf.end(), p, p + run);
    m_len += run;
}

template <class OnFrame>
bool stream_gatherer::feed(const uint8_t *data, uint32_t n, OnFrame &&on_frame)
{
    bool touched = m_open;
    uint32_t i = 0;
    while (i < n) {
        // Next A5 or 5A; A6 and 5B are ordinary bytes here.
        uint32_t j = i;
        for (;;) {
            j += uint32_t(protocol_phy::plain_run(data + j, n - j));
            if (j >= n || data[j] == 0xA5 || data[j] == 0x5A)
                break;
            ++j;
        }
        if (m_open) {
            if (m_len + (j - i) > RECORD_SIZE)
                drop();   // longer than a frame record: dropped whole
            else
                append(data + i, j - i);
        }
        i = j;
        if (i >= n)
            break;
        if (data[i] == 0xA5) {
            m_local = data + i;
            m_len = 1;
            m_open = true;
            touched = true;
        } else if (m_open) {
            if (m_len >= RECORD_SIZE) {
                drop();
            } else {
                append(data + i, 1);
                on_frame(m_local ? m_local : m_buf.data(), m_len);
                drop();
            }
        }
        ++i;
    }
    if (m_open && m_local) {
        // The frame goes on in a later chunk: keep what it has so far.
        m_buf.assign(m_local, m_local + m_len);
        m_local = nullptr;
    }
    return touched;
}

class TcpServer
{
public:
    static constexpr uint32_t CHUNK_MAX = 131071;
    static constexpr int BACKLOG = 200;
    // Keepalive on accepted connections: a PC tool that vanished without
    // closing (cable pulled) is dropped after idle + interval * count seconds.
    static constexpr int KEEPALIVE_IDLE_S = 30;
    static constexpr int KEEPALIVE_INTERVAL_S = 5;
    static constexpr int KEEPALIVE_COUNT = 3;

    TcpServer();
    ~TcpServer();
    TcpServer(const TcpServer &) = delete;
    TcpServer &operator=(const TcpServer &) = delete;

    // Opens the listening socket on every address at `port`; 0, or 255.
    uint8_t initialize(uint32_t port);
    // Waits at most `timeoutMs` (-1: no limit) for a connection, client
    // bytes or `wakeFd`, then accepts and reads what is there. Chunks go to
    // chunk(), replacing those of the last call; connections that went away to take_closed(). 0, or 255 on a
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

    // Chunks of the last recvData, oldest first: chunk(0) to chunk(chunk_count() - 1).
    size_t chunk_count() const { return m_used; }
    const TcpChunk &chunk(size_t i) const { return m_chunks[i]; }
    // Numbers of the connections closed since the last call.
    std::vector<uint64_t> take_closed();
    bool is_open() const { return m_listen >= 0; }
    size_t client_count() const { return m_clients.size(); }
    int socket_of(uint64_t conn) const;

private:
    void acceptAll();
    bool shedConnection();
    void closeClient(int socket);
    void readClient(int socket);

    std::vector<TcpChunk> m_chunks;   // reused: each keeps its receive buffer
    size_t m_used = 0;
    std::vector<pollfd> m_poll;
    int m_listen = -1;
    int m_spare = -1;   // held in reserve: freed to turn away a connection when descriptors run out
    std::map<int, uint64_t> m_clients;   // socket -> connection number
    std::map<uint64_t, int> m_by_conn;
    std::vector<uint64_t> m_closed;
    uint64_t m_next_conn = 1;
};

#endif
