#ifndef TESTS_SUPPORT_PATIENCE_H
#define TESTS_SUPPORT_PATIENCE_H

// How long a test waits for what the program promises. A deadline in a test
// bounds the wait for something that must come (a reply, a state); it is not
// the property under test. The sanitizers slow the program and the test down
// several times (ThreadSanitizer most, and more again on a loaded machine),
// so every such deadline is written for a plain build and scaled by the
// build's factor here. The helpers that wait until something holds
// (waitFor, BlockedCall::finishes, the PC-tool readers' default deadlines)
// scale their deadline themselves. Waits that assert that nothing comes stay
// as written: a slower build only makes them look less far.

#include <chrono>

namespace zemtest {

#if defined(__SANITIZE_THREAD__)
#define ZEM_TEST_SLOWDOWN 10
#elif defined(__SANITIZE_ADDRESS__)
#define ZEM_TEST_SLOWDOWN 3
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZEM_TEST_SLOWDOWN 10
#elif __has_feature(address_sanitizer)
#define ZEM_TEST_SLOWDOWN 3
#endif
#endif
#ifndef ZEM_TEST_SLOWDOWN
#define ZEM_TEST_SLOWDOWN 1
#endif

// How many times longer this build may take than a plain one.
constexpr int SLOWDOWN = ZEM_TEST_SLOWDOWN;

// A deadline written for a plain build, as this build needs it.
template <class Rep, class Period>
constexpr std::chrono::milliseconds patience(std::chrono::duration<Rep, Period> plain)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(plain) * SLOWDOWN;
}

} // namespace zemtest

#endif
