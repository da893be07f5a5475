// Opening a command server's port.

#include "protocol/net_link.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port that another program listens on cannot be served: the refusal is
// said on standard error, the one place that tells why the port stays silent.
TEST(NetBind, PortHeldByAnotherProgramIsRefusedWithABindErrorOnStandardError)
{
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr *>(&addr), &len), 0);

    testing::internal::CaptureStderr();
    const int fd = open_bound_socket(SOCK_STREAM, ntohs(addr.sin_port), SO_REUSEADDR);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(fd, -1);
    EXPECT_NE(err.find("bind error"), std::string::npos) << err;
    ::close(holder);
}

} // namespace
