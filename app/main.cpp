// Start-up of the controller: keypad probe, configuration and parameter
// stores, the front panel with its 10 ms tick, the hardware managers with
// their threads, the status screen, the change dispatcher, the USB-stick
// listener and the command links, then the Qt event loop.

#include "app/config_engine.h"
#include "app/front_panel.h"
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
#include "ui/panelstatus.h"
#include "ui/panelvnc.h"
#include "ui/zem_keyboard.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_manage.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <string>
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

// The end of a serial line that a user opens: in simulation the run script
// links the PC tool's end of each pseudo-terminal pair beside the program's
// end, as pc-ttySn; otherwise (and on the device) it is the port itself.
std::string userSerialEnd(int n)
{
    const std::string port = platform::devices::serialPort(n);
    const std::string pcEnd = platform::devices::simUserSerialPort(n);
    if (platform::isSim() && platform::files::exists(pcEnd))
        return platform::path(pcEnd);
    return platform::path(port);
}

const char *linkState(bool open)
{
    return open ? " open\n" : " failed\n";
}

// The panel's line when Qt's VNC platform serves it: with its port taken by
// another program the device runs without a panel, which Qt only mentions
// among its messages.
std::string panelLine()
{
    const ui::VncServer vnc = ui::vncServer();
    if (vnc.port < 0)
        return {};
    const std::string line = "  front panel VNC " + std::to_string(vnc.port);
    if (vnc.open)
        return line + " open\n";
    return line + " failed: no panel (choose a free port: -platform vnc:size=320x240:port=N)\n";
}

// Tells the user what to open: each link with "open", or "failed" when its
// port could not be bound or opened; then the process id and the root.
void reportLinks()
{
    networkManage *tcp = networkManage::p_networkManage;
    udpnetManage *udp = udpnetManage::p_udpnetManage;
    std::string text = "zemR47N links:\n";
    text += "  TCP " + std::to_string(g_port.load()) + linkState(tcp && tcp->command_port_open());
    text += "  TCP " + std::to_string(networkManage::CONTROLLER_PORT) + linkState(tcp && tcp->controller_port_open());
    text += "  UDP " + std::to_string(udpnetManage::COMMAND_PORT) + linkState(udp && udp->command_port_open());
    text += "  UDP " + std::to_string(udpnetManage::CONTROLLER_PORT) + linkState(udp && udp->controller_port_open());
    text += "  UDP " + std::to_string(udpnetManage::WIFI_PORT) + linkState(udp && udp->wifi_port_open());
    const serial_link *rs485 = Qy_uart_inout::p_uart_inout;
    const serial_link *link4g = Qy_uart_inout_4G::p_uart_inout_4G;
    text += "  RS-485 serial " + userSerialEnd(Qy_uart_inout::PORT) + linkState(rs485 && rs485->line_open());
    text += "  4G module serial " + userSerialEnd(Qy_uart_inout_4G::PORT) + linkState(link4g && link4g->line_open());
    text += panelLine();
    const std::string pid = std::to_string(::getpid());
    text += "  process id " + pid;
    if (platform::isSim())
        text += " (kill -USR1 " + pid + " saves the panel to " + platform::path("/sim/panel.png") + ")";
    text += "\n  ZEM_ROOT " + platform::root() + "\n";
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void savePanel()
{
    const QByteArray png = front_panel::picture_png();
    if (!png.isEmpty())
        platform::files::writeAtomic("/sim/panel.png", png.constData(), size_t(png.size()));
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
        platform::spi::sim::setBusTiming(platform::spi::sim::busTimingWanted());   // the polling threads pace themselves on the bus

    g_zem_keys = static_cast<u8>(check_hiddev());
    ConfigEngine::pInstance();
    ZemRamPara::pInstance();
    SyncUpdate::pInstance();

    ui::watchVnc(argc, argv);
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
    g_page_focus = page::Lock;
    static_cast<QWidget *>(g_lockwindow)->show();

    const QPoint origin = g_mainwindow->pos();
    static_cast<QWidget *>(g_numberkeyboard)
        ->setGeometry(QRect(QPoint(origin.x() + 160, origin.y()), QPoint(origin.x() + 319, origin.y() + 239)));

    SyncUpdate::p_SyncUpdate->listen_to(ZemRamPara::p_zemrampara_config);
    if (g_zem_keys)
        SyncUpdate::p_SyncUpdate->update_usb_keyLed();
    SyncUpdate::p_SyncUpdate->listen_to(UsbServer::pInstance());

    Qy_uart_inout::pInstance();
    networkManage::pInstance();
    Qy_uart_inout_4G::pInstance();
    networkclient_Manage::pInstance();
    R47_WIFI_CONFIG::pInstance();
    udpnetManage::pInstance();

    // The VNC platform opens its port in a call queued to the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    reportLinks();
    if (platform::isSim()) {
        ui::writePanelStatus(ui::panelStatus());
        if (pipe2(g_signalPipe, O_CLOEXEC) == 0) {
            auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
            QObject::connect(notifier, &QSocketNotifier::activated, [] {
                char c;
                while (read(g_signalPipe[0], &c, 1) == 1 && c != 'S') {
                }
                savePanel();
                ui::writePanelStatus(ui::panelStatus());
                writeSimFile("/sim/panel.done", "1\n");
            });
            std::signal(SIGUSR1, onScreenshot);
        }
    }
    return app.exec();
}
