// The network tests run in a private network namespace. Where none can be
// made they are skipped on a developer's machine, but under CI that must be
// a failure: a CI run whose network tests all skipped would look green.

#include "support/netns.h"

#include <cstdlib>
#include <gtest/gtest-spi.h>
#include <string>

namespace {

void withoutNamespace()
{
    ZEM_NETNS_OR_SKIP(false, "no private network namespace");
}

TEST(NetnsHarness, AMissingNamespaceFailsUnderCi)
{
    const char *was = std::getenv("CI");
    const std::string saved = was ? was : "";
    setenv("CI", "true", 1);
    EXPECT_FATAL_FAILURE(withoutNamespace(), "CI=true");
    if (was)
        setenv("CI", saved.c_str(), 1);
    else
        unsetenv("CI");
}

} // namespace
