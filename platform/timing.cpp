#include "platform/timing.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {
std::atomic<bool> g_pauses{true};
}

void pauseMs(unsigned ms)
{
    if (g_pauses)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void pauseUs(unsigned us)
{
    if (g_pauses)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void setPausesEnabled(bool enabled) { g_pauses = enabled; }

} // namespace platform
