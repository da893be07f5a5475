// Start-up of the real program in simulation from an empty root: the stores
// and folders it creates, the status screen in front, the panel picture, the
// links it reports, and that a test can stop it.

#include "support/device_process.h"
#include "support/netns.h"
#include "support/temp_root.h"
#include "support/vnc_client.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using zemtest::readFile;

bool isDir(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Startup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZEM_NETNS_OR_SKIP(zemtest::enterPrivateNetwork(), "network namespaces cannot be created here");
    }
    zemtest::TempRoot root;
};

TEST_F(Startup, EmptyRootComesUpWithStoresStatusScreenAndLinks)
{
    zemtest::DeviceProcess dev(root.dir());
    const std::string status = root.host("/sim/status");
    ASSERT_TRUE(zemtest::waitFor([&] { return !readFile(status).empty(); }, std::chrono::seconds(30)))
        << dev.output();
    EXPECT_EQ(readFile(status), "page_focus 0\nlockwindow shown\n");

    // Configuration store: 18 keys under [config] with their defaults.
    QSettings ini(QString::fromStdString(root.host("/data/configs/tcpip.ini")), QSettings::IniFormat);
    ini.beginGroup("config");
    EXPECT_EQ(ini.childKeys().size(), 18);
    EXPECT_EQ(ini.value("TcpPort").toInt(), 5005);
    EXPECT_EQ(ini.value("IPAddress").toString(), "192.168.0.199");
    EXPECT_EQ(ini.value("SourceCheck").toInt(), 255);
    ini.endGroup();

    // Parameter image persisted from its defaults: mark, then bytes 768.. (brightness 100).
    std::string image = readFile(root.host("/data/ram_device_info"));
    ASSERT_EQ(image.size(), 4096u);
    EXPECT_EQ(uint8_t(image[0]), 0xAA);
    EXPECT_EQ(uint8_t(image[1]), 0xAA);
    EXPECT_EQ(uint8_t(image[2176 - 768 + 2]), 100);

    for (const char *d : {"/data/configs", "/data/modes", "/data/edidramtable", "/data/smartmapping",
                          "/data/rcvrecovery"})
        EXPECT_TRUE(isDir(root.host(d))) << d;

    // The terminal tells which links are live.
    EXPECT_TRUE(zemtest::waitFor([&] { return dev.output().find("UDP 13769") != std::string::npos; },
                                 std::chrono::seconds(10)));
    const std::string out = dev.output();
    EXPECT_NE(out.find("TCP 5005 open"), std::string::npos) << out;
    EXPECT_NE(out.find("TCP 10002 open"), std::string::npos) << out;
    EXPECT_NE(out.find("UDP 5008 open"), std::string::npos) << out;
    EXPECT_NE(out.find("RS-485 serial " + root.host("/dev/ttyS2")), std::string::npos) << out;
    EXPECT_TRUE(zemtest::tcpPortOpen(5005));

    // A picture of the panel on request.
    ASSERT_EQ(kill(dev.pid(), SIGUSR1), 0);
    ASSERT_TRUE(zemtest::waitFor([&] { return !readFile(root.host("/sim/panel.done")).empty(); },
                                 std::chrono::seconds(10)));
    QImage shot(QString::fromStdString(root.host("/sim/panel.png")));
    EXPECT_EQ(shot.width(), 320);
    EXPECT_EQ(shot.height(), 240);

    EXPECT_TRUE(dev.running());
    dev.stop();
    EXPECT_FALSE(dev.running());
}

// Another program listening on a TCP port: the socket, or -1 when the port
// could not be had.
int holdPort(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);   // past an earlier test's connections
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd, 1) == 0)
        return fd;
    ::close(fd);
    return -1;
}

TEST_F(Startup, SummaryNamesWhatAUserOpensAndSaysWhatFailed)
{
    const int busy = holdPort(5005);   // the TCP command port
    ASSERT_GE(busy, 0);
    // The RS-485 line with the PC tool's end beside it, as the run script
    // makes it; no 4G line at all.
    ::mkdir(root.host("/dev").c_str(), 0755);
    zemtest::PtyLink rs485(root.host("/dev/ttyS2"));
    ASSERT_TRUE(rs485.ok());
    ASSERT_EQ(symlink(root.host("/dev/ttyS2").c_str(), root.host("/dev/pc-ttyS2").c_str()), 0);

    zemtest::DeviceProcess dev(root.dir());
    ASSERT_TRUE(zemtest::waitFor([&] { return dev.output().find("  ZEM_ROOT ") != std::string::npos; },
                                 std::chrono::seconds(30)))
        << dev.output();
    const std::string out = dev.output();
    const std::string pid = std::to_string(dev.pid());
    for (const std::string &line : std::vector<std::string>{"  TCP 5005 failed\n", "  TCP 10002 open\n", "  UDP 5008 open\n",
                                   "  RS-485 serial " + root.host("/dev/pc-ttyS2") + " open\n",
                                   "  4G module serial " + root.host("/dev/ttyS1") + " failed\n" +
                                   // It ends with what a user needs to ask for a panel picture.
                                   "  process id " + pid + " (kill -USR1 " + pid + " saves the panel to " +
                                   root.host("/sim/panel.png") + ")\n  ZEM_ROOT " + root.dir() + "\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    // Diagnostics are lines of their own.
    EXPECT_NE(out.find("\n no osd file \n"), std::string::npos) << out;
    ::close(busy);
}

// With another program on the panel's VNC port the device runs without a
// panel: the summary says so and how to choose another port, and the port
// chosen that way serves the panel.
TEST_F(Startup, SummarySaysWhetherThePanelOpenedItsVncPort)
{
    const int busy = holdPort(5900);
    ASSERT_GE(busy, 0);
    const struct {
        const char *platform;
        std::string line;
        int servedOn;   // -1: no panel
    } cases[] = {
        {"vnc:size=320x240:port=5900:mmsize=85x64",
         "  front panel VNC 5900 failed: no panel (choose a free port: -platform vnc:size=320x240:port=N)\n", -1},
        {"vnc:size=320x240:port=5901:mmsize=85x64", "  front panel VNC 5901 open\n", 5901},
    };
    for (const auto &c : cases) {
        zemtest::TempRoot own;
        zemtest::DeviceProcess dev(own.dir(), {"-platform", c.platform});
        ASSERT_TRUE(zemtest::waitFor([&] { return dev.output().find("  ZEM_ROOT ") != std::string::npos; },
                                     std::chrono::seconds(30)))
            << dev.output();
        const std::string out = dev.output();
        EXPECT_NE(out.find("  4G module serial " + own.host("/dev/ttyS1") + " failed\n" + c.line + "  process id "),
                  std::string::npos)
            << out;
        if (c.servedOn > 0) {
            zemtest::VncClient vnc(c.servedOn);
            EXPECT_TRUE(vnc.ok());
            EXPECT_EQ(vnc.width(), 320);
        }
    }
    ::close(busy);
}

bool isFifo(const std::string &p)
{
    struct stat st;
    return lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Start-up files that are no plain files are left as they are and taken for
// unreadable ones; a parameter file far longer than its 4096 bytes is read no
// further and cut back to them. Nothing the configuration store's link points
// to is written.
TEST_F(Startup, FilesThatAreNoPlainFilesNeitherHoldNorChangeStartUp)
{
    for (const char *d : {"/dev", "/data", "/data/configs", "/data/modes"})
        ::mkdir(root.host(d).c_str(), 0755);
    const std::vector<std::string> fifos = {"/dev/settings", "/data/configs/alias.json", "/data/configs/omenu.json",
                                            "/data/configs/cloud_setinfo", "/data/configs/cloud_barcode",
                                            "/data/modes/custom_mode3"};
    for (const std::string &f : fifos)
        ASSERT_EQ(mkfifo(root.host(f).c_str(), 0644), 0) << f;
    ASSERT_EQ(symlink(root.host("/dev/settings").c_str(), root.host("/data/configs/tcpip.ini").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", root.host("/data/configs/led_load_config.ini").c_str()), 0);
    // 300 MB on paper, no disk used: the mark, brightness 37, then holes.
    std::string head(4096, '\0');
    head[0] = head[1] = char(0xAA);
    head[2176 - 768 + 2] = 37;
    zemtest::writeFile(root.host("/data/ram_device_info"), head);
    ASSERT_EQ(truncate(root.host("/data/ram_device_info").c_str(), 300LL << 20), 0);

    zemtest::DeviceProcess dev(root.dir());
    ASSERT_TRUE(zemtest::waitFor([&] { return dev.output().find("UDP 13769") != std::string::npos; },
                                 std::chrono::seconds(30)))
        << dev.output();
    EXPECT_TRUE(zemtest::tcpPortOpen(5005));
    for (const std::string &f : fifos)
        EXPECT_TRUE(isFifo(root.host(f))) << f;
    EXPECT_EQ(QFileInfo(QString::fromStdString(root.host("/data/configs/tcpip.ini"))).symLinkTarget().toStdString(),
              root.host("/dev/settings"));
    struct stat st;
    EXPECT_TRUE(stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
    EXPECT_TRUE(dev.running());
    ASSERT_EQ(stat(root.host("/data/ram_device_info").c_str(), &st), 0);
    ASSERT_EQ(st.st_size, 4096);
    EXPECT_TRUE(readFile(root.host("/data/ram_device_info")) == head);
}

// Qt's settings take a lock file beside each INI file before they write it:
// a FIFO there would hold the start for ever. The store refuses to write
// instead and says so, and the program comes up.
TEST_F(Startup, LockFilesThatAreFifosNeitherHoldTheStartNorAreWritten)
{
    for (const char *d : {"/data", "/data/configs"})
        ::mkdir(root.host(d).c_str(), 0755);
    const std::vector<std::string> locks = {"/data/configs/tcpip.ini.lock", "/data/configs/led_load_config.ini.lock"};
    for (const std::string &f : locks)
        ASSERT_EQ(mkfifo(root.host(f).c_str(), 0644), 0) << f;

    zemtest::DeviceProcess dev(root.dir());
    ASSERT_TRUE(zemtest::waitFor([&] { return dev.output().find("UDP 13769") != std::string::npos; },
                                 std::chrono::seconds(30)))
        << dev.output();
    EXPECT_TRUE(zemtest::tcpPortOpen(5005));
    EXPECT_NE(dev.output().find("tcpip.ini or its lock file is not a regular file in the root; not written"),
              std::string::npos)
        << dev.output();
    for (const std::string &f : locks)
        EXPECT_TRUE(isFifo(root.host(f))) << f;
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(root.host("/data/configs/tcpip.ini"))));
}

// ThreadSanitizer's runtime runs a thread of its own, which keeps the
// program's name.
#if defined(__SANITIZE_THREAD__)
constexpr long SANITIZER_THREADS = 1;
#else
constexpr long SANITIZER_THREADS = 0;
#endif

// Every thread of the program carries a name of its own, so that top -H and
// a debugger tell them apart; only the GUI thread keeps the program's name.
TEST_F(Startup, EveryThreadIsNamed)
{
    ::mkdir(root.host("/dev").c_str(), 0755);
    zemtest::PtyLink rs485(root.host("/dev/ttyS2"));
    zemtest::PtyLink line4g(root.host("/dev/ttyS1"));
    ASSERT_TRUE(rs485.ok() && line4g.ok());
    zemtest::DeviceProcess dev(root.dir());
    ASSERT_TRUE(zemtest::waitFor([&] { return dev.output().find("UDP 13769") != std::string::npos; },
                                 std::chrono::seconds(30)))
        << dev.output();

    const QString tasks = QString("/proc/%1/task").arg(dev.pid());
    std::vector<std::string> names;
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        names.push_back(readFile((tasks + "/" + tid + "/comm").toStdString()));
    for (std::string &n : names)
        n.erase(n.find_last_not_of('\n') + 1);
    for (const char *name : {"chip", "fpga", "src-check", "tcp-5005", "tcp-10002", "udp-5008", "udp-10005",
                             "udp-13769", "rs485", "4g", "usb", "cloud", "wifi"})
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    // The GUI thread keeps the process's name ("zemR47N", or the emulator's
    // on an emulated target, whose own helper thread shares it too).
    std::string process = readFile(QString("%1/%2/comm").arg(tasks).arg(dev.pid()).toStdString());
    process.erase(process.find_last_not_of('\n') + 1);
    const bool emulated = QFileInfo(QString("/proc/%1/exe").arg(dev.pid())).symLinkTarget().contains("qemu");
    EXPECT_EQ(std::count(names.begin(), names.end(), process), 1 + SANITIZER_THREADS + (emulated ? 1 : 0))
        << "only the GUI thread";
}

} // namespace
