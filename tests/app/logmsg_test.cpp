#include "app/logMsg.h"

#include <cerrno>
#include <gtest/gtest.h>

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
