#ifndef PROTOCOL_TCPSERVER_H
#define PROTOCOL_TCPSERVER_H

// Listening TCP socket of a command port and its client connections. The
// owning thread blocks in recvData() until a connection arrives, a client
// sends bytes or closes, a client can take queued reply bytes, or the
// thread's wake-up descriptor is signalled.
// Every connection gets a number of its own that is never reused, so that a
// reply meant for a connection that has gone cannot reach a later client
// that happens to get the same socket descriptor.
//
// No client can hold up the port: replies are sent without waiting, and what
// a client's socket does not take at once is queued for that connection and
// sent when it can take more. A client whose queue would pass its cap is
// dropped. Memory stays bounded: one receive buffer per port, a cap on the
// connections served at once, and a queue that is released once sent.
// Idle connections cannot lock the port: at the cap, a new connection takes
// the place of the one that has gone longest without a whole frame, once that
// is IDLE_LIMIT or more; only when none is that idle is it turned away.

#include "protocol/protocol_phy.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <poll.h>
#include <vector>

// Gathers command frames out of one connection's byte stream: a frame runs
// from its last 0xA5 to the next 0x5A, wherever the segments were cut, and
// every frame of a chunk is taken in order. Bytes outside a frame are
// ignored; a frame longer than the frame record is dropped.
class stream_gatherer
{
public:
    static constexpr uint32_t RECORD_SIZE = 131072;

    // Calls `on_frame(bytes, count)` with the wire bytes of each frame the chunk
    // completes, in order; the bytes are valid during the call only. Runs
    // between frame bytes are copied whole, and a frame that lies wholly in
    // the chunk is handed over from the chunk itself.
    template <class OnFrame>
    void feed(const uint8_t *data, uint32_t n, OnFrame &&on_frame);
    // True when the chunk opens or continues a frame.
    bool takes(const uint8_t *data, uint32_t n) const { return m_open || std::memchr(data, 0xA5, n); }
    bool in_frame() const { return m_open; }

private:
    // Forgets the open frame; the memory it held is given back.
    void drop()
    {
        m_open = false;
        m_local = nullptr;
        m_len = 0;
        std::vector<uint8_t>().swap(m_buf);
    }
    void append(const uint8_t *p, uint32_t run);

    std::vector<uint8_t> m_buf;     // a frame carried over from earlier chunks (empty otherwise)
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
void stream_gatherer::feed(const uint8_t *data, uint32_t n, OnFrame &&on_frame)
{
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
            drop();
            m_local = data + i;
            m_len = 1;
            m_open = true;
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
}

class TcpServer
{
public:
    static constexpr uint32_t CHUNK_MAX = 131071;
    static constexpr int BACKLOG = 200;
    // Connections served at once. At the cap a connection idle for
    // IDLE_LIMIT makes room; otherwise further ones are accepted and closed
    // at once, and each burst of them is reported on standard error.
    static constexpr size_t MAX_CLIENTS = 64;
    static constexpr std::chrono::milliseconds IDLE_LIMIT{10000};
    // Reply bytes a connection may have waiting: two of the largest replies.
    // A client that stops reading is dropped once its queue would pass this.
    static constexpr size_t REPLY_QUEUE_MAX = 2 * 131072;
    // Keepalive on accepted connections: a PC tool that vanished without
    // closing (cable pulled) is dropped after idle + interval * count seconds.
    static constexpr int KEEPALIVE_IDLE_S = 30;
    static constexpr int KEEPALIVE_INTERVAL_S = 5;
    static constexpr int KEEPALIVE_COUNT = 3;

    // What one recv returned on a connection; the bytes are the port's
    // receive buffer and are valid during the call only.
    using ChunkHandler = std::function<void(uint64_t conn, const uint8_t *data, uint32_t count)>;

    TcpServer();
    ~TcpServer();
    TcpServer(const TcpServer &) = delete;
    TcpServer &operator=(const TcpServer &) = delete;

    // Opens the listening socket on every address at `port`; 0, or 255.
    uint8_t initialize(uint32_t port);
    // Waits at most `timeoutMs` (-1: no limit) for a connection, client
    // bytes, room for queued replies or `wakeFd`; then accepts, sends what
    // is queued and reads. Each chunk read goes to `onChunk` at once;
    // connections that went away to take_closed(). 0, or 255 on a poll error.
    // woken() then tells whether `wakeFd` was signalled.
    uint8_t recvData(int timeoutMs = 0, int wakeFd = -1, const ChunkHandler &onChunk = nullptr);
    bool woken() const { return m_woken; }
    // Sends bytes on a client socket without waiting: what the socket does
    // not take now is queued and sent when it can. 0; 255 when there are no
    // bytes, the socket is not a client, or the client was dropped (send
    // error, or its queue would pass REPLY_QUEUE_MAX).
    uint8_t sendData(const uint8_t *data, uint32_t count, int socket);
    // As sendData, by connection number; a connection that has gone gets
    // nothing (255).
    uint8_t sendTo(uint64_t conn, const uint8_t *data, uint32_t count);
    // Closes the listening socket and every client.
    void unInitialize();
    // The connection's client sent a whole frame: it is not idle.
    void frame_seen(uint64_t conn);
    // How long a connection must have been idle to make room at the cap
    // (IDLE_LIMIT unless changed; tests shorten it).
    void set_idle_limit(std::chrono::milliseconds limit) { m_idle_limit = limit.count(); }
    // Removes a client from the set and closes it.
    void delete_clinetSocket(int socket);

    // Numbers of the connections closed since the last call.
    std::vector<uint64_t> take_closed();
    bool is_open() const { return m_listen >= 0; }
    size_t client_count() const { return m_clients.size(); }
    int socket_of(uint64_t conn) const;
    // Reply bytes waiting for a connection (0 for one that has gone).
    size_t queued(uint64_t conn) const;

private:
    using Clock = std::chrono::steady_clock;

    struct Client {
        uint64_t conn = 0;
        Clock::time_point last_frame;   // of its last whole frame, or when it connected
        std::vector<uint8_t> out;   // reply bytes the socket has not taken yet, from `sent` on
        size_t sent = 0;
        size_t waiting() const { return out.size() - sent; }
    };

    void acceptAll();
    bool shedConnection();
    bool closeIdlest();
    void refuse(int fd);
    void closeClient(int socket);
    void readClient(int socket, const ChunkHandler &onChunk);
    void flushClient(int socket);

    std::vector<uint8_t> m_buf;   // the port's one receive buffer
    std::vector<pollfd> m_poll;
    uint32_t m_port = 0;
    int m_listen = -1;
    int m_spare = -1;   // held in reserve: freed to turn away a connection when descriptors run out
    bool m_refusing = false;   // in a burst of connections beyond MAX_CLIENTS
    std::map<int, Client> m_clients;   // by socket
    std::map<uint64_t, int> m_by_conn;
    std::vector<uint64_t> m_closed;
    uint64_t m_next_conn = 1;
    bool m_woken = false;
    std::atomic<int64_t> m_idle_limit{IDLE_LIMIT.count()};   // milliseconds
};

#endif
