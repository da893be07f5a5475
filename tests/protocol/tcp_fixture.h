#ifndef TESTS_PROTOCOL_TCP_FIXTURE_H
#define TESTS_PROTOCOL_TCP_FIXTURE_H

// Sockets as the PC tool uses them, for the network link tests. Every test
// runs in a private network namespace, so the links open their real ports.

#include "proto_fixture.h"
#include "support/device_process.h"
#include "support/netns.h"
#include "support/pc_sockets.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {

using pctool::Bytes;

// Base fixture: a private network namespace in which a broadcast has a way
// out (eth0 with an address and the default route), then the protocol set-up.
class NetTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        ZEM_NETNS_OR_SKIP(zemtest::enterRoutedPrivateNetwork(), "no routed private network namespace");
        ProtoTest::SetUp();
    }
};

using zemtest::isBroadcast;
using zemtest::isLoopback;
using zemtest::tcpConnect;
using zemtest::UdpPeer;
using pctool::payload;

// Body of the reply to one request on a connected stream (empty: none).
inline Bytes ask(int fd, const Bytes &wire,
                 std::chrono::milliseconds timeout = zemtest::patience(std::chrono::milliseconds(2000)))
{
    return zemtest::askStream(fd, wire, timeout);
}

// A card frame from the PC tool to receiving card 1.
inline Bytes cardFrame(uint8_t cmd, const Bytes &payload = {1, 2, 3})
{
    return pctool::frame(pctool::body(0x0001, pctool::PC, cmd, 0, payload));
}

// A receiving card's reply as the FPGA hands it over (body with its XOR).
inline Bytes cardReply(uint8_t tag)
{
    return pctool::withXor(pctool::body(pctool::PC, 0x0001, 0x10, 0, {0xA5, tag, 0x5A}));
}

} // namespace nettest

#endif
