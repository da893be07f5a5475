#include "net_cmd_fixture.h"

#include "app/utils.h"
#include "cloud/message_deal_4g.h"
#include "platform/files.h"
#include "protocol/net_records.h"
#include "support/full_disk.h"

#include <QSettings>
#include <algorithm>

using pctool::Bytes;

namespace {

const char *const kMacQuery = "ifconfig eth0 | grep HWaddr | awk '{print $5}'";

void setEth(const QString &ip, const QString &mask, const QString &gw, const QString &mac)
{
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    g_str_ip = ip;
    g_srt_mask = mask;
    g_str_gateway = gw;
    g_str_mac = mac;
}

QString iniValue(const std::string &hostFile, const char *key)
{
    return QSettings(QString::fromStdString(hostFile), QSettings::IniFormat).value(key).toString();
}

bool logged(const std::string &command)
{
    const auto log = platform::shell::sim::log();
    return std::find(log.begin(), log.end(), command) != log.end();
}

} // namespace

TEST_F(CmdTest, SearchAnswersMacFromTheShellAndTheAddresses)
{
    platform::shell::sim::script(kMacQuery, 0, "00:1A:2B:3C:4D:5E\n");
    setEth("192.168.0.199", "255.255.255.0", "192.168.0.1", "");
    g_port = 5005;
    const Bytes expected = {0, 3, 22, 0, 0, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 192, 168, 0, 199,
                            255, 255, 255, 0, 192, 168, 0, 1, 0x8D, 0x13};
    EXPECT_EQ(cmd(0xA4, {3}), expected);
    EXPECT_TRUE(logged(kMacQuery));
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    EXPECT_EQ(g_str_mac, QStringLiteral("00:1A:2B:3C:4D:5E"));
}

TEST_F(CmdTest, DeviceRecordWithoutWifiKeepsEveryTextInItsField)
{
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_barcode = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWX");   // 24 bytes, field of 16
        g_pid = QString(40, QLatin1Char('f'));                        // longer than its 32
    }
    // Texts with too many parts stay inside their fields.
    setEth("10.0.0.1.7.7", "255.0.0.0", "10.0.0.254", "00:11:22:33:44:55:66:77");
    g_port = 6001;
    Bytes r = cmd(0xA4, {16});
    ASSERT_EQ(r.size(), 233u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 11), (Bytes{0, 16, 0x8D, 1, 1, 0x52, 0x97, 0x43, 11, 0, 2}));
    EXPECT_EQ(std::string(r.begin() + 11, r.begin() + 27), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(std::string(r.begin() + 27, r.begin() + 59), std::string(32, 'f'));
    EXPECT_TRUE(std::all_of(r.begin() + 59, r.begin() + 187, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(Bytes(r.begin() + 187, r.begin() + 207),
              (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x71, 0x17, 10, 0, 0, 1, 255, 0, 0, 0, 10, 0, 0, 254}));
    // Without the WiFi manager the rest of the record is zero, and nothing lies past it.
    EXPECT_EQ(Bytes(r.begin() + 207, r.end()), Bytes(26, 0));
    EXPECT_EQ(buf[243], 0xEE);

    // A short barcode is zero-padded.
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_barcode = QStringLiteral("AB");
    }
    r = cmd(0xA4, {16});
    EXPECT_EQ(Bytes(r.begin() + 11, r.begin() + 27), (Bytes{'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NetRecords, WifiPartPlacesEverySetting)
{
    QString wifi[17];
    wifi[0] = "6";
    wifi[5] = "192.168.22.1";
    wifi[6] = "300";
    wifi[7] = "1A2B3C4D";   // 8 digits, field of 6
    wifi[11] = "255.255.255.0";
    wifi[12] = "192.168.22.254";
    wifi[13] = "5005";
    wifi[14] = "8.8.8.8";
    wifi[15] = "aa:bb:cc:dd:ee:ff";
    std::memcpy(g_4G_property, "0123456789abcdef01234567", 24);
    Bytes b(420, 0xEE);
    net_records::putWifiPart(b.data(), wifi);
    EXPECT_EQ(b[217], 6);
    EXPECT_EQ(Bytes(b.begin() + 218, b.begin() + 224), (Bytes{1, 0xA, 2, 0xB, 3, 0xC}));
    EXPECT_TRUE(std::all_of(b.begin() + 224, b.begin() + 288, [](uint8_t v) { return v == 0; }));
    EXPECT_EQ(Bytes(b.begin() + 288, b.begin() + 300),
              (Bytes{0x2C, 0x01, 192, 168, 22, 1, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
    EXPECT_EQ(Bytes(b.begin() + 364, b.begin() + 379),
              (Bytes{0x8D, 0x13, 255, 255, 255, 0, 8, 8, 8, 8, 192, 168, 22, 254, 24}));
    EXPECT_EQ(std::string(b.begin() + 379, b.begin() + 403), "0123456789abcdef01234567");
    EXPECT_EQ(b[404], 0xEE);
    std::memset(g_4G_property, 0, sizeof g_4G_property);
}

TEST_F(CmdTest, AddressSetWithANewPortStoresAndRestartsAfterTheReply)
{
    g_port = 5005;
    G_timeTicks = 1234;
    Bytes req = {1, 0, 0, 0, 192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1, 0x70, 0x17};   // port 6000
    EXPECT_EQ(cmd(0xA4, req), Bytes{0});
    const std::string ini = root.host("/data/configs/tcpip.ini");
    EXPECT_EQ(iniValue(ini, "config/IPAddress"), "192.168.1.50");
    EXPECT_EQ(iniValue(ini, "config/SubNetMask"), "255.255.255.0");
    EXPECT_EQ(iniValue(ini, "config/GateWay"), "192.168.1.1");
    EXPECT_EQ(iniValue(ini, "config/TcpPort"), "6000");
    EXPECT_TRUE(logged("ifconfig eth0 192.168.1.50 netmask 255.255.255.0 up"));
    EXPECT_EQ(g_port.load(), 6000);
    // The reboot is due 300 ticks after this command, not at the next tick.
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 1234u);
    G_timeTicks = 1234 + 299;
    EXPECT_LT(Utils::getTimeSpace(G_reboot_tickTicks), 300u);
    G_timeTicks = 1234 + 300;
    EXPECT_GE(Utils::getTimeSpace(G_reboot_tickTicks), 300u);
    EXPECT_TRUE(changes.empty());
}

TEST_F(CmdTest, AddressSetWithTheSamePortOnlySignalsTheChange)
{
    g_port = 5005;
    Bytes req = {1, 0, 0, 0, 192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1, 0x8D, 0x13};
    EXPECT_EQ(cmd(0xA4, req), Bytes{0});
    EXPECT_EQ(changes, std::vector<int>{1});
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    EXPECT_EQ(g_str_ip, QStringLiteral("192.168.1.50"));
}

// The controller port 10002 cannot become the command port: it would take
// the controller port's place after the restart. It is stored as sent and
// served as 5005, as at start-up, so with 5005 in force nothing restarts.
TEST_F(CmdTest, AddressSetWithThePortOfAnotherLinkKeeps5005)
{
    g_port = 5005;
    Bytes req = {1, 0, 0, 0, 192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1, 0x12, 0x27};   // port 10002
    EXPECT_EQ(cmd(0xA4, req), Bytes{0});
    EXPECT_EQ(g_port.load(), 5005);
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_EQ(changes, std::vector<int>{1});
}

// An address the file cannot take (a full disk) changes nothing, neither now
// nor after a restart, and is answered 1; with room it is stored as ever.
TEST_F(CmdTest, AnAddressTheFileCannotTakeChangesNothingAndAnswers1)
{
    g_port = 5005;
    zemtest::FullDisk disk(root.host("/data/configs"));
    if (!disk.ok())
        GTEST_SKIP() << "no mount namespace of its own for this test";
    const std::string before = file("/data/configs/tcpip.ini");
    ASSERT_TRUE(disk.fill());
    const Bytes req = {1, 0, 0, 0, 192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1, 0x70, 0x17};   // port 6000
    EXPECT_EQ(cmd(0xA4, req), Bytes{1});
    EXPECT_EQ(file("/data/configs/tcpip.ini"), before);
    EXPECT_TRUE(platform::shell::sim::log().empty());
    EXPECT_EQ(g_port.load(), 5005);
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(ConfigEngine::pInstance()->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.0.199");
    EXPECT_EQ(ConfigEngine::pInstance()->read_config_variant(ConfigItem::TcpPort).toInt(), 5005);

    disk.drain();
    EXPECT_EQ(cmd(0xA4, req), Bytes{0});
    EXPECT_NE(file("/data/configs/tcpip.ini").find("IPAddress=192.168.1.50\n"), std::string::npos);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// A MAC address the interfaces file cannot take changes nothing: no
// restart of eth0, the address in force stays, and the answer is 1.
TEST_F(CmdTest, AMacAddressTheFileCannotTakeChangesNothingAndAnswers1)
{
    setEth("192.168.0.199", "255.255.255.0", "192.168.0.1", "00:11:22:33:44:55");
    zemtest::FullDisk disk(root.host("/etc/network"));
    if (!disk.ok())
        GTEST_SKIP() << "no mount namespace of its own for this test";
    ASSERT_TRUE(disk.fill());
    const Bytes req = {0, 0, 0, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(cmd(0xA4, req), (Bytes{1, 0}));
    EXPECT_FALSE(platform::files::exists("/etc/network/interfaces"));
    EXPECT_TRUE(platform::shell::sim::log().empty());
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        EXPECT_EQ(g_str_mac, QStringLiteral("00:11:22:33:44:55"));
    }
    disk.drain();
    EXPECT_EQ(cmd(0xA4, req), (Bytes{0, 0}));
    EXPECT_NE(file("/etc/network/interfaces").find("hwaddress ether 00:1a:2b:3c:4d:5e\n"), std::string::npos);
}

TEST_F(CmdTest, MacSetWritesTheInterfacesFileAndRestartsEth0)
{
    setEth("192.168.0.199", "255.255.255.0", "192.168.0.1", "");
    EXPECT_EQ(cmd(0xA4, {0, 0, 0, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), (Bytes{0, 0}));
    EXPECT_EQ(file("/etc/network/interfaces"),
              "#start 180503\n\nauto lo\niface lo inet loopback\n\nauto eth0\niface eth0 inet static\n"
              "address 192.168.0.199\nnetmask 255.255.255.0\nmetric 1\nhwaddress ether 00:1a:2b:3c:4d:5e\n"
              "#\n\n#end\n");
    const auto log = platform::shell::sim::log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "ifdown eth0 -f;ifup eth0 -f");
    EXPECT_TRUE(logged("ifconfig eth0 192.168.0.199 netmask 255.255.255.0"));
}

TEST_F(CmdTest, ShortNetworkRequestsAreRefused)
{
    g_port = 5005;
    EXPECT_EQ(cmd(0xA4, {1, 0, 0, 0, 192, 168}), Bytes{1});
    EXPECT_EQ(cmd(0xA4, {0, 0, 0, 1, 2}), (Bytes{1, 0}));
    EXPECT_EQ(cmd(0xA4, {0, 0, 0, 1, 2, 3, 4, 5}), (Bytes{1, 0}));   // one MAC byte short
    EXPECT_FALSE(platform::files::exists("/etc/network/interfaces"));
    EXPECT_EQ(g_app_reset_flag.load(), 0);
}
