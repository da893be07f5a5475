#include "app/global.h"
#include "app/utils.h"
#include "platform/shell.h"
#include "support/temp_root.h"

#include <cstring>

namespace {

const uint8_t *bytes(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

TEST(UtilsChecksum, KnownValues)
{
    const uint8_t seq[] = {1, 2, 3};
    EXPECT_EQ(Utils::BCC(seq, 0), 0u);
    EXPECT_EQ(Utils::BCC(seq, 3), 0u);
    EXPECT_EQ(Utils::BCC(seq, 2), 3u);

    EXPECT_EQ(Utils::calcCRC16(bytes("abc"), 3), 0x9738u);
    EXPECT_EQ(Utils::calcCRC16(bytes("123456789"), 9), 0xBB3Du);
    EXPECT_EQ(Utils::calcCRC16(bytes(""), 0), 0u);

    EXPECT_EQ(Utils::calcCRC32(bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(Utils::calcCRC32(bytes(""), 0), 0u);
}

TEST(UtilsTicks, ElapsedAcrossWrapAround)
{
    G_timeTicks = 0x10;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFF0u), 0x1Fu);
    G_timeTicks = 1000;
    EXPECT_EQ(Utils::getTimeSpace(400), 600u);
    EXPECT_EQ(Utils::getTimeSpace(1000), 0u);
    G_timeTicks = 0;
}

class UtilsShell : public zemtest::RootTest {};

TEST_F(UtilsShell, StatusIsMappedAndRawStatusReported)
{
    platform::shell::sim::script("false", 1);
    int raw = -7;
    EXPECT_EQ(Utils::system_mutex("false", &raw), 255);
    EXPECT_EQ(raw, 256);
    EXPECT_EQ(Utils::system_mutex("true", &raw), 0);
    EXPECT_EQ(raw, 0);
    EXPECT_EQ(Utils::system_mutex("true"), 0);
}

TEST_F(UtilsShell, CommandsAreLoggedInOrderAndNotRun)
{
    Utils::system_mutex("reboot");
    Utils::system_mutex("ifconfig eth0 192.168.0.2 netmask 255.255.255.0 up");
    platform::shell::sim::script("ifconfig eth0 | grep HWaddr", 0, "eth0 HWaddr 00:11:22:33:44:55\n");
    EXPECT_EQ(Utils::shell_exec("ifconfig eth0 | grep HWaddr", 128), "eth0 HWaddr 00:11:22:33:44:55\n");
    std::vector<std::string> log = platform::shell::sim::log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "reboot");
    EXPECT_EQ(log[1], "ifconfig eth0 192.168.0.2 netmask 255.255.255.0 up");
    EXPECT_EQ(log[2], "ifconfig eth0 | grep HWaddr");
}

TEST_F(UtilsShell, ScriptFileRulesAndLongestPrefixWin)
{
    zemtest::writeFile(platform::shell::sim::scriptFile(),
                       "ifconfig\t0\tshort\nifconfig eth0\t3\tline1\\nline2\n");
    EXPECT_EQ(Utils::shell_exec("ifconfig eth0 up"), "line1\nline2");
    EXPECT_EQ(Utils::shell_exec("ifconfig wlan0"), "short");
    int raw = 0;
    Utils::system_mutex("ifconfig eth0 &>/dev/null", &raw);
    EXPECT_EQ(raw, 3 << 8);
}

TEST(UtilsSleep, ReturnsZero)
{
    EXPECT_EQ(Utils::usleep_mutex(10), 0);
    EXPECT_EQ(Utils::msleep_mutex(1), 0);
}

} // namespace
