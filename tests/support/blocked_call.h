#ifndef TESTS_SUPPORT_BLOCKED_CALL_H
#define TESTS_SUPPORT_BLOCKED_CALL_H

// Runs one call on a thread of its own, so that a test can see whether it
// waits for a lock the test holds, and whether it comes to an end.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace zemtest {

class BlockedCall
{
public:
    explicit BlockedCall(std::function<void()> call);
    ~BlockedCall();
    BlockedCall(const BlockedCall &) = delete;
    BlockedCall &operator=(const BlockedCall &) = delete;

    // True when the call is still running after `ms` milliseconds: it waits
    // for something the test holds.
    bool waits(int ms = 200);
    // True once the call has returned, within `ms` milliseconds (scaled by
    // the build's slowdown).
    bool finishes(int ms = 5000);

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Lets a call go on that waits to read the FIFO at `hostPath` (Qt reading a
// lock file): a writer comes and goes, and the FIFO's name is removed, so
// that the call reads nothing and does not open it again.
void releaseFifo(const std::string &hostPath);

} // namespace zemtest

#endif
