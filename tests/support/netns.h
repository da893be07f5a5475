#ifndef TESTS_SUPPORT_NETNS_H
#define TESTS_SUPPORT_NETNS_H

#include <gtest/gtest.h>

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

// True when the environment says CI=true (a CI run).
bool underCi();

} // namespace zemtest

// Ends the calling test (or its SetUp) when `available` is false: skipped on
// a developer's machine that cannot make network namespaces, failed under CI,
// where every network test must run.
#define ZEM_NETNS_OR_SKIP(available, why)                                        \
    do {                                                                         \
        if (!(available)) {                                                      \
            if (zemtest::underCi())                                              \
                GTEST_FAIL() << why << " (CI=true: network tests must run)";     \
            else                                                                 \
                GTEST_SKIP() << why;                                             \
        }                                                                        \
    } while (0)

#endif
