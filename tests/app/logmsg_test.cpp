// Diagnostics: each one is a line of its own on standard output, however its
// text starts or ends with line breaks, and nothing is printed once the debug
// switch is off. Errors leave a line on standard error.

#include "app/global.h"
#include "app/logMsg.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace {

std::string printed(const char *format, const char *arg = "")
{
    testing::internal::CaptureStdout();
    debugPrint(format, arg);
    return testing::internal::GetCapturedStdout();
}

TEST(DebugPrint, EachDiagnosticIsALineOfItsOwn)
{
    const struct {
        const char *format;
        const char *expected;
    } cases[] = {
        {"\n no osd file ", " no osd file \n"},
        {"\n ok c331_id  setup= %s \n", " ok c331_id  setup= 6 \n"},
        {"\t data:%s\r\n", "\t data:6\n"},
        {"first\nsecond%s", "first\nsecond6\n"},
        {"%s   ", "6   \n"},
        {"\r\n\n", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(printed(c.format, "6"), c.expected) << c.format;

    g_debugSwitch = 0;
    EXPECT_EQ(printed("quiet"), "");
    g_debugSwitch = 254;
}

// Errors must leave a trace on the board; notes and banners stay quiet.
TEST(LogMsg, OnlyErrorsReachStandardErrorOneLineEach)
{
    testing::internal::CaptureStderr();
    errno = ENOENT;
    writeLogMsg(LOG_ERROR, "bind error:%m");
    writeLogMsg(LOG_NULL, "pointer is null");
    writeLogMsg(LOG_INFO, "banner %d", 3);
    writeLogMsg(LOG_ERROR, "port %d\n", 5005);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "bind error:No such file or directory\nport 5005\n");
}

} // namespace
