// Ethernet set-up for real: the configuration store's start-up and the
// network reset run their ifconfig/route/ip commands against the `eth0` of a
// private network namespace, and the result is read back with `ip`.

#include "app/config_engine.h"
#include "app/global.h"
#include "app/utils.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "support/netns.h"
#include "support/temp_root.h"

#include <climits>
#include <unistd.h>

namespace {

std::string nsLink(const char *path)
{
    char buf[PATH_MAX] = {0};
    ssize_t n = readlink(path, buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

class NetnsEthernet : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        const std::string hostNs = nsLink("/proc/1/ns/net");
        ZEM_NETNS_OR_SKIP(zemtest::enterPrivateNetwork(), "network namespaces cannot be created here");
        // Never run device commands unless this process left the host's namespace.
        const std::string ownNs = nsLink("/proc/self/ns/net");
        ZEM_NETNS_OR_SKIP(!ownNs.empty() && ownNs != hostNs, "not inside a private network namespace");
        if (platform::shell::run("command -v ifconfig >/dev/null && command -v route >/dev/null") != 0)
            GTEST_SKIP() << "ifconfig/route (net-tools) not installed";
        ConfigEngine::resetInstance();
        platform::configure(platform::Mode::Device, root.dir());
    }
    void TearDown() override
    {
        ConfigEngine::resetInstance();
        platform::configure(platform::Mode::Sim, root.dir());
    }
    static std::string ip(const std::string &args) { return platform::shell::capture("ip " + args); }
};

TEST_F(NetnsEthernet, StartUpAndResetProgramEth0)
{
    zemtest::writeFile(root.host("/data/configs/tcpip.ini"),
                       "[config]\nIPAddress=10.20.30.40\nSubNetMask=255.255.255.0\nGateWay=10.20.30.1\n");
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);  // the device id stays unknown: no /dev/mem under the root

    const std::string addr = ip("-4 addr show dev eth0");
    EXPECT_NE(addr.find("inet 10.20.30.40/24"), std::string::npos) << addr;
    EXPECT_NE(addr.find("UP"), std::string::npos) << addr;
    const std::string routes = ip("route show");
    EXPECT_NE(routes.find("default via 10.20.30.1 dev eth0"), std::string::npos) << routes;
    EXPECT_NE(routes.find("default via 10.20.30.1 dev eth0 metric 100"), std::string::npos) << routes;
    EXPECT_NE(routes.find("10.20.30.1 dev eth0 scope link"), std::string::npos) << routes;
    EXPECT_NE(routes.find("255.255.255.255 dev eth0 scope link"), std::string::npos) << routes;

    EXPECT_EQ(Utils::init_resteth("172.16.5.6", "172.16.0.1", "255.255.0.0"), 0);
    const std::string addr2 = ip("-4 addr show dev eth0");
    EXPECT_NE(addr2.find("inet 172.16.5.6/16"), std::string::npos) << addr2;
    const std::string routes2 = ip("route show");
    EXPECT_NE(routes2.find("default via 172.16.0.1 dev eth0 metric 100"), std::string::npos) << routes2;
    EXPECT_NE(routes2.find("172.16.0.1 dev eth0 scope link"), std::string::npos) << routes2;

    // A refused address leaves the interface as it was.
    EXPECT_EQ(Utils::init_resteth("172.16.5.7;ip link set eth0 down", "172.16.0.1", "255.255.0.0"), 255);
    EXPECT_NE(ip("-4 addr show dev eth0").find("inet 172.16.5.6/16"), std::string::npos);
}

} // namespace
