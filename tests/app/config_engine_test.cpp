#include "app/config_engine.h"
#include "app/global.h"
#include "platform/devmem.h"
#include "platform/shell.h"
#include "support/blocked_call.h"
#include "support/temp_root.h"

#include <QFileInfo>
#include <QSettings>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <thread>

namespace {

class ConfigEngineTest : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        platform::devmem::sim::reset();
        ConfigEngine::resetInstance();
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_pid.clear();
    }
    void TearDown() override
    {
        ConfigEngine::resetInstance();
        platform::devmem::sim::reset();
    }
    QString iniPath() const { return QString::fromStdString(root.host("/data/configs/tcpip.ini")); }
    static QString pid()
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        return g_pid;
    }
};

TEST_F(ConfigEngineTest, EmptyRootGetsAllKeysWithDefaults)
{
    ConfigEngine engine;
    QSettings ini(iniPath(), QSettings::IniFormat);
    ini.beginGroup("config");
    const QStringList keys = ini.childKeys();
    EXPECT_EQ(keys.size(), 18);
    EXPECT_EQ(ini.value("TcpPort").toString(), "5005");
    EXPECT_EQ(ini.value("UdpPort").toString(), "5008");
    EXPECT_EQ(ini.value("IPAddress").toString(), "192.168.0.199");
    EXPECT_EQ(ini.value("SubNetMask").toString(), "255.255.255.0");
    EXPECT_EQ(ini.value("GateWay").toString(), "192.168.0.1");
    EXPECT_EQ(ini.value("MAC").toString(), "FF:FF:FF:FF:FF:FF");
    EXPECT_EQ(ini.value("Barcode").toString(), " ");
    EXPECT_EQ(ini.value("WifiIPAddress").toString(), "192.168.22.101");
    EXPECT_EQ(ini.value("EDIDCheck").toString(), "Once");
    EXPECT_EQ(ini.value("SourceCheck").toString(), "255");
    EXPECT_EQ(ini.value("ImageLayoutPassword").toString(), "jV");
    EXPECT_EQ(ini.value("Kumocloudserverip").toString(), " ");
    EXPECT_EQ(ini.value("Kumocloudserverport").toString(), " ");
    EXPECT_EQ(ini.value("Kumoclouduserip").toString(), " ");
    EXPECT_EQ(ini.value("Kumocloudcontrollername").toString(), " ");
    EXPECT_EQ(ini.value("ZemMaxPixel_UINT").toString(), "13107200");
    EXPECT_EQ(ini.value("usbupgradedir").toString(), "ZEM-R25");
    EXPECT_EQ(ini.value("ZemLCDLang").toString(), "65567");
    EXPECT_EQ(engine.read_config_variant(ConfigItem::TcpPort).toInt(), 5005);
    EXPECT_EQ(ConfigEngine::_itemMap.value("config/ZemLCDLang"), ConfigItem::ZemLCDLang);
}

TEST_F(ConfigEngineTest, StoredValuesKeptEmptyOnesRestoredWritesPersist)
{
    zemtest::writeFile(root.host("/data/configs/tcpip.ini"), "[config]\nTcpPort=6000\nBarcode=\n");
    {
        ConfigEngine engine;
        EXPECT_EQ(engine.read_config_variant(ConfigItem::TcpPort).toString(), "6000");
        EXPECT_EQ(engine.read_config_variant(ConfigItem::Barcode).toString(), " ");
        engine.write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.0.0.5"));
        EXPECT_EQ(engine.read_config_variant(ConfigItem::IPAddress).toString(), "10.0.0.5");
    }
    QSettings ini(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(ini.value("config/Barcode").toString(), " ");
    EXPECT_EQ(ini.value("config/TcpPort").toString(), "6000");
    ConfigEngine again;
    EXPECT_EQ(again.read_config_variant(ConfigItem::IPAddress).toString(), "10.0.0.5");
}

TEST_F(ConfigEngineTest, DeviceIdFromSocRegisters)
{
    EXPECT_EQ(ConfigEngine::device_id(0x1234, 0x5678, 0x9ABC), "1597bca0886b31023001305032627494");
    EXPECT_EQ(ConfigEngine::device_id(0xFFFF, 0xFFFF, 0xFFFF).size(), 32);

    platform::devmem::sim::poke16(0x1F004058, 0x1234);
    platform::devmem::sim::poke16(0x1F00405C, 0x5678);
    platform::devmem::sim::poke16(0x1F004060, 0x9ABC);
    platform::devmem::sim::poke16(0x1F00400C, 0x03FF);
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);
    EXPECT_EQ(pid(), "1597bca0886b31023001305032627494");
    EXPECT_EQ(platform::devmem::sim::peek16(0x1F00400C), 0x02FF);  // bit 8 cleared, rest kept
    // Through a window of the SoC's register block alone: 0x2B0000 bytes from 0x1F000000.
    const auto windows = platform::devmem::sim::windows();
    EXPECT_NE(std::find(windows.begin(), windows.end(), std::make_pair(0x1F000000u, 0x2B0000u)), windows.end());
}

// Without /dev/mem the store still loads the globals, sets up Ethernet and
// checks the launcher; only the device id stays unknown.
TEST_F(ConfigEngineTest, StartUpWithoutSocRegistersStillConfigures)
{
    platform::devmem::sim::setAvailable(false);
    zemtest::writeFile(root.host("/data/configs/tcpip.ini"), "[config]\nTcpPort=6001\n");
    zemtest::writeFile(root.host("/data/configs/led_load_config.ini"),
                       "[app-1]\napp_path=/data/app/zemR47N -platform linuxfb\n");
    g_update_status = 0;
    factoryage_log.push_back("old");
    factoryage_log_num = 4;

    ConfigEngine *engine = ConfigEngine::pInstance();
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(pid().isEmpty());
    EXPECT_EQ(g_port.load(), 6001);
    EXPECT_EQ(g_update_status.load(), 1);
    EXPECT_TRUE(factoryage_log.empty());
    EXPECT_EQ(factoryage_log_num.load(), 0);
    const auto log = platform::shell::sim::log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "ifconfig eth0 &>/dev/null");
    EXPECT_NE(std::find(log.begin(), log.end(), "ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up"), log.end());
}

// A configuration file that is a link is read and written only when it leads
// to a regular file inside the root; anything else is left as it is and the
// store works from its defaults, refusing writes as for a read-only file.
TEST_F(ConfigEngineTest, LinkedFileIsWrittenOnlyWhenItLeadsToARegularFileInTheRoot)
{
    const std::string outside = root.dir() + "-outside.ini";
    zemtest::writeFile(outside, "[config]\nTcpPort=7000\n");
    zemtest::writeFile(root.host("/data/configs/real.ini"), "[config]\nTcpPort=6000\n");
    ASSERT_EQ(::mkfifo(root.host("/data/configs/fifo").c_str(), 0644), 0);
    struct Case {
        std::string target;
        int port;
        bool written;
    } const cases[] = {
        {root.host("/data/configs/real.ini"), 6000, true},
        {outside, 5005, false},
        {root.host("/data/configs/fifo"), 5005, false},
    };
    const std::string link = root.host("/data/configs/tcpip.ini");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.target);
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(c.target.c_str(), link.c_str()), 0);
        ConfigEngine engine;
        EXPECT_EQ(engine.read_config_variant(ConfigItem::TcpPort).toInt(), c.port);
        EXPECT_EQ(engine.write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.0.0.5")), c.written);
        EXPECT_EQ(QFileInfo(QString::fromStdString(link)).symLinkTarget().toStdString(), c.target);
    }
    EXPECT_EQ(QSettings(QString::fromStdString(root.host("/data/configs/real.ini")), QSettings::IniFormat)
                  .value("config/IPAddress").toString(), "10.0.0.5");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(root.host("/data/configs/fifo"))).size() == 0);
    EXPECT_EQ(zemtest::readFile(outside), "[config]\nTcpPort=7000\n");
    ::unlink(outside.c_str());
}

// Qt's settings take a lock file beside the INI file before they write it. A
// FIFO there (for either INI file) would hold the start for ever: the store
// reads the file as it is, refuses writes and says so, and the start goes on,
// whether the configuration file exists or not.
TEST_F(ConfigEngineTest, LockFileThatIsNoRegularFileRefusesWritesWithoutHoldingTheStart)
{
    const std::string lock = root.host("/data/configs/tcpip.ini.lock");
    const std::string launcherLock = root.host("/data/configs/led_load_config.ini.lock");
    for (const char *content : {"[config]\nTcpPort=6000\n", ""}) {
        SCOPED_TRACE(content);
        ConfigEngine::resetInstance();
        ::unlink(root.host("/data/configs/tcpip.ini").c_str());
        if (*content)
            zemtest::writeFile(root.host("/data/configs/tcpip.ini"), content);
        for (const std::string &fifo : {lock, launcherLock}) {
            ::unlink(fifo.c_str());
            ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        }
        bool written = true;
        {
            zemtest::BlockedCall start([&] {
                written = ConfigEngine::pInstance()->write_config_variant(ConfigItem::IPAddress,
                                                                          QStringLiteral("10.0.0.5"));
            });
            if (!start.finishes()) {
                ADD_FAILURE() << "the start waits on the lock file";
                zemtest::releaseFifo(lock);
            }
        }
        EXPECT_FALSE(written);
        EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::TcpPort).toInt(), *content ? 6000 : 5005);
        EXPECT_EQ(zemtest::readFile(root.host("/data/configs/tcpip.ini")), content);
        for (const std::string &fifo : {lock, launcherLock}) {
            struct stat st;
            EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << fifo;
        }
    }
}

TEST_F(ConfigEngineTest, LauncherCheckNeedsTheExactEntry)
{
    const char *variants[] = {"/data/app/zemR47N  -platform linuxfb", "/data/app/zemR47N -platform linuxfb "};
    for (const char *v : variants) {
        ConfigEngine::resetInstance();
        zemtest::writeFile(root.host("/data/configs/led_load_config.ini"),
                           std::string("[app-1]\napp_path=\"") + v + "\"\n");
        g_update_status = 1;
        ConfigEngine::pInstance();
        EXPECT_EQ(g_update_status.load(), 0) << v;
    }
    EXPECT_EQ(zemtest::readFile(root.host("/data/configs/led_load_config.ini")),
              "[app-1]\napp_path=\"/data/app/zemR47N -platform linuxfb \"\n");
}

TEST_F(ConfigEngineTest, ConcurrentReadersAndWriters)
{
    ConfigEngine engine;
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&engine, &bad, t] {
            for (int i = 0; i < 50; ++i) {
                engine.write_config_variant(ConfigItem::Barcode, QString("code-%1-%2").arg(t).arg(i));
                if (!engine.read_config_variant(ConfigItem::Barcode).toString().startsWith("code-"))
                    bad = true;
                if (engine.read_config_variant(ConfigItem::GateWay).toString() != "192.168.0.1")
                    bad = true;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_FALSE(bad.load());
    QSettings ini(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(ini.value("config/Barcode").toString(), engine.read_config_variant(ConfigItem::Barcode).toString());
}

} // namespace
