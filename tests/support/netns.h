#ifndef TESTS_SUPPORT_NETNS_H
#define TESTS_SUPPORT_NETNS_H

namespace zemtest {

// Moves this test process (and every child it starts later) into a private
// network namespace with `lo` up and a veth pair whose one end is named
// "eth0" (the other "eth0-peer"). Fixed ports then never collide with other
// tests and nothing reaches the host's network. Done once per process; call
// it from the main thread before any other thread exists. False when the
// namespace cannot be created (the caller skips its test).
bool enterPrivateNetwork();

// As enterPrivateNetwork, and then - inside that namespace only - gives eth0
// an address (10.77.0.1/24) and the default route, so that broadcasts have a
// way out as on a wired controller. False when the namespace cannot be made,
// is still the host's, or cannot be routed.
bool enterRoutedPrivateNetwork();

} // namespace zemtest

#endif
