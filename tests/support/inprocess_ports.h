#ifndef TESTS_SUPPORT_INPROCESS_PORTS_H
#define TESTS_SUPPORT_INPROCESS_PORTS_H

// The device's TCP and UDP command ports running in this process, for the
// benchmarks that time them: inside a private network namespace (the ports
// are fixed), on a temporary simulation root without settling pauses that is
// removed when the program ends. The root is set up even when the ports
// cannot be.

#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"

#include <memory>

namespace zemtest {

struct InProcessPorts {
    bool ok = false;   // false: no private network namespace, or a port did not open
    std::unique_ptr<networkManage> tcp;
    std::unique_ptr<udpnetManage> udp;
};

// Started on the first call, from the main thread before any other thread.
InProcessPorts &inProcessPorts();

} // namespace zemtest

#endif
