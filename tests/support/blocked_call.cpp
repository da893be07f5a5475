#include "support/blocked_call.h"
#include "support/patience.h"

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace zemtest {

namespace {

// Polls `done` until it holds or `ms` pass; returns its last value.
bool doneWithin(const std::atomic<bool> &done, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

BlockedCall::BlockedCall(std::function<void()> call)
    : m_thread([this, call] {
          call();
          m_done = true;
      })
{
}

BlockedCall::~BlockedCall()
{
    // The test has released what the call waits for by now.
    m_thread.join();
}

bool BlockedCall::waits(int ms)
{
    return !doneWithin(m_done, ms);
}

bool BlockedCall::finishes(int ms)
{
    return doneWithin(m_done, ms * SLOWDOWN);
}

void releaseFifo(const std::string &hostPath)
{
    const int fd = ::open(hostPath.c_str(), O_WRONLY | O_NONBLOCK);
    ::unlink(hostPath.c_str());
    if (fd >= 0)
        ::close(fd);
}

} // namespace zemtest
