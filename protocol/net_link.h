#ifndef PROTOCOL_NET_LINK_H
#define PROTOCOL_NET_LINK_H

// What the TCP and UDP command managers share: opening a bound socket, the
// command thread of a port, the frame settings of their ports, and a port's
// work on what its server received (handle each frame as soon as it is
// gathered, answer it at its origin, wait for card replies). `Server` is the
// port's socket class and `Origin` says where an answer goes.

#include "app/logMsg.h"
#include "protocol/frame_link.h"

#include <atomic>
#include <netinet/in.h>
#include <cstdint>
#include <pthread.h>
#include <string>
#include <vector>

// A socket of `type` (SOCK_STREAM, SOCK_DGRAM) bound to every address at
// `port`, with the socket option `option` (SO_REUSEADDR, SO_BROADCAST) set;
// -1 on failure, with the failing step logged.
int open_bound_socket(int type, uint32_t port, int option);

// Frame settings of a network command port: the command ports pass card
// frames through and mark the PC tool active before the XOR check; the
// controller ports (10002, 10005) carry controller frames only and leave
// the PC-activity mark alone.
frame_link::Config net_port_config(uint8_t transport, bool controllerOnly, bool replyOnZero, uint32_t recordSize);

// One command thread.
class net_thread
{
public:
    // Starts the thread named `name`; false when it cannot be started
    // (logged with `what`).
    bool start(void *(*entry)(void *), void *arg, const char *what, const std::string &name);
    // Joins the thread if it runs.
    void join();
    bool running() const { return m_running; }

private:
    pthread_t m_thread{};
    bool m_running = false;
};

// The sender of a frame as the handler tells senders apart: a TCP port's
// connection number, a UDP port's peer address and port (the datagram's own
// source, never the address its answer goes to).
inline uint64_t origin_key(uint64_t conn) { return conn; }
inline uint64_t origin_key(const sockaddr_in &peer)
{
    return (uint64_t(ntohl(peer.sin_addr.s_addr)) << 16) | ntohs(peer.sin_port);
}

enum net_link_state : uint32_t { NetIdle = 0, NetWaitingCard = 1, NetReplyPending = 2 };

// While a card frame waits for its reply, look at the card side this often;
// card replies routed by the card side's own thread wake the port earlier.
constexpr int NET_CARD_POLL_MS = 5;

template <class Server, class Origin>
struct net_port {
    explicit net_port(const frame_link::Config &c) : link(c) {}

    Server server;
    frame_link link;
    net_thread thread;
    std::atomic<uint32_t> state{NetIdle};
    Origin card_origin{};          // where the reply to the pending card frame goes
    bool logDropped = false;       // say "frame error" on a bad frame (debug output)

    // Blocks until the server has something, a card reply or a wake-up; while
    // a card frame waits, at most NET_CARD_POLL_MS.
    int wait_timeout() const { return state == NetWaitingCard ? NET_CARD_POLL_MS : -1; }

    // Handles one gathered frame of `sender` (origin_key) as soon as it is
    // whole. `send(origin, data, count)` puts an answer on the wire (without
    // waiting for the client).
    template <class Send>
    void handle(const uint8_t *wire, uint32_t n, const Origin &origin, uint64_t sender, Send &&send)
    {
        switch (link.process(wire, n, m_wire, sender)) {
        case frame_link::Result::Dropped:
            if (logDropped)
                debugPrint("\n frame error!!!!!!!");
            return;
        case frame_link::Result::NoReply:
            return;
        case frame_link::Result::Replied:
        case frame_link::Result::CardAcked:
            state = NetReplyPending;
            send(origin, m_wire.data(), uint32_t(m_wire.size()));
            state = NetIdle;
            return;
        case frame_link::Result::CardWait:
            card_origin = origin;
            state = NetWaitingCard;
            return;
        }
    }

    // While a card frame waits: sends its reply to the frame's origin once
    // the card side has one.
    template <class Send>
    void poll_card(Send &&send)
    {
        if (state == NetWaitingCard && link.poll_card_reply(m_wire)) {
            send(card_origin, m_wire.data(), uint32_t(m_wire.size()));
            card_origin = Origin{};
            state = NetIdle;
        }
    }

private:
    std::vector<uint8_t> m_wire;   // reply or card reply being sent
};

#endif
