#ifndef TESTS_SUPPORT_PC_SOCKETS_H
#define TESTS_SUPPORT_PC_SOCKETS_H

// The PC tool's sockets towards the device's TCP and UDP command ports on
// 127.0.0.1 (inside the test's private network namespace).

#include "support/patience.h"
#include "support/pctool.h"

#include <chrono>
#include <netinet/in.h>

namespace zemtest {

// A TCP connection to 127.0.0.1:port with Nagle off, retried until `wait`
// runs out; -1 when nothing accepted. A `receiveBuffer` above 0 is set
// before connecting, so that a client that never reads fills it soon.
int tcpConnect(int port, std::chrono::milliseconds wait = patience(std::chrono::seconds(5)), int receiveBuffer = 0);

// Reads and discards what arrives until the peer ends the connection (end
// of stream or reset); false when it is still open after `timeout`.
bool closedByPeer(int fd, std::chrono::milliseconds timeout);

// Body (with its XOR) of the reply to one request written on a connected
// stream; empty when none came within `timeout`.
pctool::Bytes askStream(int fd, const pctool::Bytes &wire,
                        std::chrono::milliseconds timeout = patience(std::chrono::milliseconds(2000)));

// A UDP socket of the PC tool on an ephemeral port that may receive
// broadcasts and learns the destination address of each datagram.
class UdpPeer
{
public:
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;

    int port() const { return m_port; }
    void send(int port, const pctool::Bytes &bytes);
    // One datagram within `timeout` (empty: none); `to` gets its destination
    // address, `fromPort` the sender's port.
    pctool::Bytes receive(std::chrono::milliseconds timeout, in_addr *to = nullptr, int *fromPort = nullptr);
    // Body of the reply to one request sent as `wire` (empty: none).
    pctool::Bytes ask(int port, const pctool::Bytes &wire, in_addr *to = nullptr,
                      std::chrono::milliseconds timeout = patience(std::chrono::milliseconds(2000)));

private:
    int m_fd = -1;
    int m_port = 0;
};

inline bool isBroadcast(const in_addr &a) { return a.s_addr == htonl(INADDR_BROADCAST); }
inline bool isLoopback(const in_addr &a) { return a.s_addr == htonl(INADDR_LOOPBACK); }

} // namespace zemtest

#endif
