#include "platform/files.h"
#include "platform/platform.h"
#include "support/temp_root.h"

namespace {

using zemtest::readFile;

class Files : public zemtest::RootTest {};

TEST_F(Files, PathsLiveUnderTheRoot)
{
    EXPECT_EQ(platform::path("/data/app"), root.dir() + "/data/app");
    EXPECT_EQ(platform::path("relative"), "relative");
    EXPECT_TRUE(platform::files::exists("/data/configs"));
    EXPECT_TRUE(platform::files::exists("/data/modes"));
}

TEST_F(Files, AtomicWriteReplacesWholeFile)
{
    ASSERT_TRUE(platform::files::writeAtomic("/data/a", "first", 5));
    ASSERT_TRUE(platform::files::writeAtomic("/data/a", "xy", 2));
    EXPECT_EQ(readFile(root.host("/data/a")), "xy");
    EXPECT_FALSE(platform::files::exists("/data/a.tmp"));
}

TEST_F(Files, FailedWriteKeepsThePreviousFile)
{
    ASSERT_TRUE(platform::files::writeAtomic("/data/a", "previous", 8));
    platform::files::testing::failNextWriteAfter(3);
    EXPECT_FALSE(platform::files::writeAtomic("/data/a", "replacement", 11));
    EXPECT_EQ(readFile(root.host("/data/a")), "previous");
    EXPECT_FALSE(platform::files::exists("/data/a.tmp"));
    // The failure is consumed by one write.
    EXPECT_TRUE(platform::files::writeAtomic("/data/a", "next", 4));
    EXPECT_EQ(readFile(root.host("/data/a")), "next");
}

TEST_F(Files, CopyMoveRemove)
{
    ASSERT_TRUE(platform::files::writeAtomic("/data/src", "payload", 7));
    EXPECT_TRUE(platform::files::copy("/data/src", "/data/modes/dst"));
    EXPECT_EQ(readFile(root.host("/data/modes/dst")), "payload");
    EXPECT_FALSE(platform::files::copy("/data/missing", "/data/modes/dst"));
    EXPECT_EQ(readFile(root.host("/data/modes/dst")), "payload");

    EXPECT_TRUE(platform::files::move("/data/src", "/data/moved"));
    EXPECT_FALSE(platform::files::exists("/data/src"));
    EXPECT_TRUE(platform::files::exists("/data/moved"));

    EXPECT_TRUE(platform::files::remove("/data/moved"));
    EXPECT_TRUE(platform::files::remove("/data/moved"));   // already gone
    EXPECT_TRUE(platform::files::remove("/data/modes"));
    EXPECT_FALSE(platform::files::exists("/data/modes"));
}

} // namespace
