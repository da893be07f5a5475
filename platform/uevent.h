#ifndef PLATFORM_UEVENT_H
#define PLATFORM_UEVENT_H

// Kernel device events (uevents) such as a USB stick being plugged in. On the
// device a netlink socket for kernel object events; in simulation a source
// that tests inject messages into, or that reads them line by line from the
// FIFO $ZEM_ROOT/sim/uevent (one message per line; a line longer than 8 KiB
// is cut there).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {
namespace uevent {

class Source
{
public:
    virtual ~Source() {}
    // Waits up to timeoutMs for one message and copies at most `capacity`
    // bytes of it into buf (a longer message is cut, as a datagram is).
    // Returns the bytes copied, 0 when nothing arrived in time, -1 on error.
    virtual int receive(char *buf, size_t capacity, int timeoutMs) = 0;
};

// Opens the event channel bound to netlink port id `portId` and multicast
// groups `groups`, with a receive buffer of `rcvbuf` bytes; null on failure.
std::unique_ptr<Source> open(uint32_t portId, uint32_t groups, int rcvbuf);

namespace sim {
// Queues one message (it may hold zero bytes) for the open sources to receive.
void inject(const std::string &message);
// Drops queued messages.
void clear();
// Makes the next open() fail, as a failed bind would.
void failNextOpen();
// The FIFO read by a simulated source (created when a source opens).
std::string fifoPath();
} // namespace sim

} // namespace uevent
} // namespace platform

#endif
