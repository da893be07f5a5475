// Start-up of the controller: keypad probe, configuration and parameter
// stores, the front panel with its 10 ms tick, the hardware managers with
// their threads, the status screen, the change dispatcher, the USB-stick
// listener and the command links, then the Qt event loop.

#include "app/config_engine.h"
#include "app/global.h"
#include "app/logMsg.h"
#include "app/syncupdate.h"
#include "app/usbserver.h"
#include "app/zemrampara.h"
#include "cloud/networkclient_manage.h"
#include "cloud/r47_wifi_config.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/spi.h"
#include "protocol/networkmanage.h"
#include "protocol/qy_uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"
#include "sendcard/fpga_manage.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/numberkeyboard.h"
#include "ui/pages.h"
#include "ui/zem_keyboard.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_manage.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void writeSimFile(const std::string &path, const std::string &text)
{
    platform::files::writeAtomic(path, text.data(), text.size());
}

// SIGTERM and SIGINT end the process at once: the device has no orderly
// shutdown, and nothing is half-written outside the atomic file writes.
void onTerminate(int)
{
    _exit(0);
}

// SIGUSR1 (simulation): save a picture of the panel to <root>/sim/panel.png.
void onScreenshot(int)
{
    char c = 'S';
    ssize_t n = write(g_signalPipe[1], &c, 1);
    (void)n;
}

// True when a local port is taken by one of our servers (binding it fails).
bool portInUse(int type, int port)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bool busy = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    close(fd);
    return busy;
}

// Tells the user which links are live, once the link threads had time to open.
void reportLinks()
{
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::string text = "zemR47N links:\n";
        for (int port : {g_port.load(), int(networkManage::CONTROLLER_PORT)})
            text += "  TCP " + std::to_string(port) + (portInUse(SOCK_STREAM, port) ? " open\n" : " closed\n");
        for (int port : {int(udpnetManage::COMMAND_PORT), int(udpnetManage::CONTROLLER_PORT),
                         int(udpnetManage::WIFI_PORT)})
            text += "  UDP " + std::to_string(port) + (portInUse(SOCK_DGRAM, port) ? " open\n" : " closed\n");
        struct Serial {
            const char *name;
            int port;
        } serials[] = {{"RS-485", Qy_uart_inout::PORT}, {"4G module", Qy_uart_inout_4G::PORT}};
        for (const Serial &s : serials) {
            const std::string port = platform::devices::serialPort(s.port);
            text += std::string("  ") + s.name + " serial " + platform::path(port) +
                    (platform::files::exists(port) ? " present\n" : " absent\n");
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }).detach();
}

// Simulation: a small status file for whoever drives the simulated device.
void writeSimStatus()
{
    std::string s = "page_focus " + std::to_string(g_page_focus.load()) + "\n" + "lockwindow " +
                    (g_lockwindow && static_cast<QWidget *>(g_lockwindow)->isVisible() ? "shown" : "hidden") +
                    "\n";
    writeSimFile("/sim/status", s);
}

void savePanel()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || !g_mainwindow)
        return;
    QWidget *w = static_cast<QWidget *>(g_mainwindow);
    QPixmap shot = screen->grabWindow(0, w->x(), w->y(), 320, 240);
    if (shot.isNull())
        shot = w->grab(QRect(0, 0, 320, 240));
    shot.save(platform::qpath("/sim/panel.png"), "PNG");
}

} // namespace

int main(int argc, char *argv[])
{
    // Large blocks (a link's frames and replies, buffers of a connection)
    // get pages of their own, which go back to the system when freed: memory
    // is back where it was once a burst of connections has come and gone.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    platform::init();
    std::signal(SIGTERM, onTerminate);
    std::signal(SIGINT, onTerminate);
    std::signal(SIGPIPE, SIG_IGN);
    if (platform::isSim())
        platform::spi::sim::setBusTiming(true);   // the polling threads pace themselves on the bus

    g_zem_keys = static_cast<u8>(check_hiddev());
    ConfigEngine::pInstance();
    ZemRamPara::pInstance();
    SyncUpdate::pInstance();

    QApplication app(argc, argv);
    g_mainwindow = new MainWindow();
    g_timer = new QTimer();
    QObject::connect(g_timer, &QTimer::timeout, g_mainwindow, &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    tarixsource::pInstance();
    fpga_manage::pInstance();
    c331_manage::pInstance();
    fpga_manage::p_fpga_manage->initialize_start();
    tarixsource::p_tarix_source->initialize();

    sleep(4);

    new LockWindow(g_mainwindow);   // registers itself in g_lockwindow
    g_mainwindow->show();
    g_page_focus = 0;
    static_cast<QWidget *>(g_lockwindow)->show();

    const QPoint origin = g_mainwindow->pos();
    static_cast<QWidget *>(g_numberkeyboard)
        ->setGeometry(QRect(QPoint(origin.x() + 160, origin.y()), QPoint(origin.x() + 319, origin.y() + 239)));

    QObject::connect(ZemRamPara::p_zemrampara_config, &ZemRamPara::sig_update_para, SyncUpdate::p_SyncUpdate,
                     &SyncUpdate::para_sync);
    if (g_zem_keys)
        SyncUpdate::p_SyncUpdate->update_usb_keyLed();
    UsbServer *usb = UsbServer::pInstance();
    QObject::connect(usb, &UsbServer::sig_usb_update, SyncUpdate::p_SyncUpdate, &SyncUpdate::para_sync);

    Qy_uart_inout::pInstance();
    networkManage::pInstance();
    Qy_uart_inout_4G::pInstance();
    networkclient_Manage::pInstance();
    R47_WIFI_CONFIG::pInstance();
    udpnetManage::pInstance();

    reportLinks();
    if (platform::isSim()) {
        writeSimStatus();
        if (pipe2(g_signalPipe, O_CLOEXEC) == 0) {
            auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
            QObject::connect(notifier, &QSocketNotifier::activated, [] {
                char c;
                while (read(g_signalPipe[0], &c, 1) == 1 && c != 'S') {
                }
                savePanel();
                writeSimStatus();
                writeSimFile("/sim/panel.done", "1\n");
            });
            std::signal(SIGUSR1, onScreenshot);
        }
    }
    return app.exec();
}
