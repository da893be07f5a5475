#ifndef PROTOCOL_UDPSERVER_H
#define PROTOCOL_UDPSERVER_H

// Datagram socket of a UDP command port. The owning thread blocks in wait()
// until a datagram, room for queued answers or its wake-up arrives, then
// sends what is queued with flush() and takes the waiting datagram with
// recvData(). Answers are sent without waiting: one the socket cannot take
// now is queued and sent when it can, up to a cap on the queued bytes.

#include <cstdint>
#include <deque>
#include <netinet/in.h>
#include <vector>

struct UdpDatagram {
    std::vector<uint8_t> data;
    uint32_t count = 0;
    sockaddr_in addr{};   // where the answer goes
    sockaddr_in from{};   // who sent it
};

// Gathers command frames out of one sender's datagrams: a datagram of 9
// bytes or fewer is ignored; one that starts with 0xA5 opens a frame (any
// partial one is dropped); others continue an open frame; the frame is
// complete with the datagram that ends in 0x5A. A frame longer than the
// frame record is dropped.
class packet_gatherer
{
public:
    static constexpr uint32_t RECORD_SIZE = 131072;
    static constexpr uint32_t MIN_DATAGRAM = 10;

    // True when the datagram opened or continued a frame; `complete` is set
    // and `frame` holds the wire bytes once the frame is whole.
    bool feed(const uint8_t *data, uint32_t n, std::vector<uint8_t> &frame, bool &complete);
    bool in_frame() const { return m_open; }

private:
    std::vector<uint8_t> m_buf;
    bool m_open = false;
};

class UdpServer
{
public:
    static constexpr uint32_t DATAGRAM_MAX = 131071;
    // Answer bytes that may wait for the socket; an answer beyond is lost,
    // as a datagram may be.
    static constexpr size_t REPLY_QUEUE_MAX = 2 * 131072;

    UdpServer();
    ~UdpServer();
    UdpServer(const UdpServer &) = delete;
    UdpServer &operator=(const UdpServer &) = delete;

    // Opens a broadcast-capable socket bound to every address at `port`; 0, or 255.
    uint8_t initialize(uint32_t port);
    // Blocks at most `timeoutMs` (-1: no limit) until a datagram waits, the
    // socket can take queued answers, or `wakeFd` is signalled; true when a
    // datagram waits. woken() then tells whether `wakeFd` was signalled.
    bool wait(int timeoutMs, int wakeFd);
    bool woken() const { return m_woken; }
    // Queues the datagram that waits (the caller knows one does: a request
    // costs no read that finds nothing). With keepSender 0 the answer goes
    // to 255.255.255.255 at the sender's port, with 1 to the sender. 0, or
    // 255 on a receive error.
    uint8_t recvData(uint8_t keepSender);
    // Sends or queues one answer; 0, or 255 (no bytes, no socket, sendto
    // failed, or the queue is full).
    uint8_t sendData(const uint8_t *data, uint32_t count, const sockaddr_in &to);
    // Sends the queued answers the socket takes now, oldest first.
    void flush();
    // Answer bytes waiting for the socket.
    size_t queued() const { return m_out_bytes; }
    void unInitialize();

    std::deque<UdpDatagram> &queue() { return m_queue; }
    int socket() const { return m_socket; }
    bool is_open() const { return m_socket >= 0; }

private:
    enum class Sent { Whole, Later, Failed };
    Sent sendNow(const uint8_t *data, uint32_t count, const sockaddr_in &to);

    std::deque<UdpDatagram> m_queue;
    std::deque<UdpDatagram> m_out;   // answers waiting for the socket
    size_t m_out_bytes = 0;
    int m_socket = -1;
    std::vector<uint8_t> m_buf;
    bool m_woken = false;
};

#endif
