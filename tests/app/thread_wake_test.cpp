#include "app/thread_wake.h"

#include <gtest/gtest.h>

namespace {

// A request or a stop raised before the thread waits is not lost: the wait
// returns at once, even one with no deadline.
TEST(ThreadWake, RequestAndStopRaisedBeforeTheWaitAreNotLost)
{
    thread_wake w;
    w.notify();
    EXPECT_TRUE(w.wait_until(thread_wake::never()));
    const auto deadline = thread_wake::clock::now() + std::chrono::milliseconds(20);
    EXPECT_TRUE(w.wait_until(deadline));   // taken once: this one runs to its deadline
    EXPECT_GE(thread_wake::clock::now(), deadline);
    w.stop();
    EXPECT_FALSE(w.wait_until(thread_wake::never()));
    EXPECT_FALSE(w.wait_for(std::chrono::milliseconds(0)));
    w.reset();
    EXPECT_TRUE(w.wait_for(std::chrono::milliseconds(0)));
}

} // namespace
