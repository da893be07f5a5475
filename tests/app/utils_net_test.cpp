#include "app/config_engine.h"
#include "app/global.h"
#include "app/utils.h"
#include "platform/shell.h"
#include "support/temp_root.h"

#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

class UtilsNet : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        ConfigEngine::resetInstance();
        ConfigEngine::p_config = &engine();
        platform::shell::sim::clearLog();
    }
    void TearDown() override { ConfigEngine::p_config = nullptr; }
    ConfigEngine &engine()
    {
        if (!m_engine)
            m_engine.reset(new ConfigEngine);
        return *m_engine;
    }
    std::unique_ptr<ConfigEngine> m_engine;
};

TEST_F(UtilsNet, InitIPAddressRunsTheCommandsInOrder)
{
    ASSERT_EQ(Utils::initIPAddress(), 0);
    const Log expected = {
        "ifconfig eth0 &>/dev/null",
        "route del default wlan0",
        "ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up",
        "route add -host 192.168.0.1 dev eth0",
        "route add default gw 192.168.0.1 metric 100",
        "ip route add default via 192.168.0.1 dev eth0",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(platform::shell::sim::log(), expected);

    platform::shell::sim::clearLog();
    ASSERT_EQ(Utils::init_resteth("10.1.2.3", "10.1.2.254", "255.255.0.0"), 0);
    const Log reset = {
        "ifconfig eth0 &>/dev/null",
        "route del default wlan0",
        "ifconfig eth0 10.1.2.3 netmask 255.255.0.0",
        "route add -host 10.1.2.254 dev eth0",
        "route add default gw 10.1.2.254 metric 100",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(platform::shell::sim::log(), reset);
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    EXPECT_EQ(g_str_ip, "192.168.0.199");  // init_resteth leaves the globals alone
}

TEST_F(UtilsNet, MissingInterfaceStopsBeforeAnythingElse)
{
    engine().write_config_variant(ConfigItem::TcpPort, 6000);
    g_port = 5005;
    platform::shell::sim::script("ifconfig eth0 &>/dev/null", 1);
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(Utils::init_resteth("10.1.2.3", "10.1.2.254", "255.255.0.0"), 255);
    EXPECT_EQ(platform::shell::sim::log(), Log(2, "ifconfig eth0 &>/dev/null"));
    EXPECT_EQ(g_port.load(), 5005);  // globals not reloaded
}

// Address texts reach a shell command only as dotted IPv4.
TEST_F(UtilsNet, InvalidAddressTextsAreRefused)
{
    const char *bad[] = {"1.2.3.4; reboot", "256.1.1.1", "1.2.3", "1.2.3.4.5", "a.b.c.d", "", " 1.2.3.4", "1..2.3"};
    for (const char *b : bad) {
        platform::shell::sim::clearLog();
        EXPECT_EQ(Utils::init_resteth(b, "10.0.0.1", "255.0.0.0"), 255) << b;
        EXPECT_EQ(Utils::init_resteth("10.0.0.2", b, "255.0.0.0"), 255) << b;
        EXPECT_EQ(Utils::init_resteth("10.0.0.2", "10.0.0.1", b), 255) << b;
        EXPECT_TRUE(platform::shell::sim::log().empty()) << b;
    }

    engine().write_config_variant(ConfigItem::GateWay, QStringLiteral("192.168.0.1 && reboot"));
    platform::shell::sim::clearLog();
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(platform::shell::sim::log(), Log(1, "ifconfig eth0 &>/dev/null"));
}

TEST_F(UtilsNet, GlobalsFromTheStore)
{
    engine().write_config_variant(ConfigItem::TcpPort, 6000);
    engine().write_config_variant(ConfigItem::Barcode, QStringLiteral("BC-1"));
    Utils::getIPAddress();
    EXPECT_EQ(g_port.load(), 6000);
    EXPECT_EQ(g_int_tcp_port.load(), 6000);
    EXPECT_EQ(g_Kumo_cloud.load(), 0);
    EXPECT_EQ(g_check_source.load(), 255);
    EXPECT_EQ(g_zem_max_pixel.load(), 0xC80000);
    EXPECT_EQ(g_lcd_lang_valid.load(), 0x1001Fu);
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        EXPECT_EQ(g_str_barcode, "BC-1");
        EXPECT_EQ(g_srt_mask, "255.255.255.0");
        EXPECT_EQ(g_usb_grade_path, "ZEM-R25");
        EXPECT_EQ(g_imagelayoutpassword, "jV");
    }

    engine().write_config_variant(ConfigItem::Kumocloudserverip, QStringLiteral("10.9.9.9"));
    Utils::getIPAddress();
    EXPECT_EQ(g_Kumo_cloud.load(), 1);
    engine().write_config_variant(ConfigItem::Kumocloudserverip, QStringLiteral(" "));
    engine().write_config_variant(ConfigItem::Kumocloudserverport, 7000);
    Utils::getIPAddress();
    EXPECT_EQ(g_Kumo_cloud.load(), 1);
}

// A stored TCP port outside 1..65535, not a number, or a port that another
// link serves (TCP 10002; UDP 5008, 10005, 13769) keeps the default 5005.
TEST_F(UtilsNet, OutOfRangeTcpPortKeeps5005)
{
    for (const QVariant &v : {QVariant(0), QVariant(65536), QVariant(-3), QVariant(QStringLiteral("abc")),
                              QVariant(10002), QVariant(5008), QVariant(10005), QVariant(13769)}) {
        g_port = 1234;
        engine().write_config_variant(ConfigItem::TcpPort, v);
        Utils::getIPAddress();
        EXPECT_EQ(g_port.load(), 5005) << v.toString().toStdString();
        EXPECT_EQ(g_int_tcp_port.load(), 5005);
    }
    engine().write_config_variant(ConfigItem::TcpPort, 65535);
    Utils::getIPAddress();
    EXPECT_EQ(g_port.load(), 65535);
}

} // namespace
