#include "app/usbserver.h"

#include "app/front_panel.h"
#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"
#include "platform/files.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

UsbServer *UsbServer::p_UsbServer = nullptr;

namespace {

const uint32_t kNetlinkPortId = 100;
const uint32_t kKernelEvents = 1;
const int kReceiveBuffer = 1024;
const size_t kMaxMessage = 4096;
const int kReceiveWaitMs = 500;  // so the thread notices when it is stopped
const int kReleaseLookMs = 100;  // how often the thread looks whether the tick released it
const char *const kUsbStorage = "/proc/scsi/usb-storage";
const uint32_t kStorageSettleTicks = 301;

std::vector<std::string> splitParts(const std::string &text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = text.find('/', start);
        parts.push_back(text.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            return parts;
        start = slash + 1;
    }
}

// "sda0" to "sda9": a partition of the first stick.
bool isFirstStickPartition(const std::string &p)
{
    if (p.size() < 4 || p.compare(0, 3, "sda") != 0)
        return false;
    // The number is read digit by digit and given up once past 9, so that a
    // long run of digits cannot overflow into a small value.
    unsigned number = 0;
    for (size_t i = 3; i < p.size(); ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(p[i] - '0');
        if (number > 9)
            return false;
    }
    return true;
}

void pause(std::chrono::milliseconds ms)
{
    std::this_thread::sleep_for(ms);
}

} // namespace

UsbServer::UsbServer() = default;

UsbServer::~UsbServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

UsbServer *UsbServer::pInstance()
{
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (!p_UsbServer) {
        p_UsbServer = new UsbServer;
        p_UsbServer->initialize();
    }
    return p_UsbServer;
}

int UsbServer::initialize()
{
    m_source = platform::uevent::open(kNetlinkPortId, kKernelEvents, kReceiveBuffer);
    if (!m_source) {
        writeLogMsg(LOG_ERROR, "UsbServer bind error:%m");
        return 255;
    }
    try {
        m_thread = std::thread(&UsbServer::acceptThread, this);
        Utils::name_thread(m_thread.native_handle(), "usb");
    } catch (const std::system_error &) {
        writeLogMsg(LOG_ERROR, "UsbServer create acceptThread error");
        return 255;
    }
    return 0;
}

int UsbServer::unInitialize()
{
    return 0;
}

int UsbServer::delete_clinetSocket(int)
{
    return 0;
}

int UsbServer::usb_signal(int code)
{
    Q_EMIT sig_usb_update(code);
    return 1;
}

void UsbServer::acceptThread(UsbServer *self)
{
    while (!self->m_stop) {
        // Until the tick releases the listener, events wait in the channel.
        if (!g_delay_usbserver) {
            pause(std::chrono::milliseconds(kReleaseLookMs));
            continue;
        }
        if (self->recvData() != 0)
            pause(std::chrono::milliseconds(10));
    }
}

int UsbServer::recvData()
{
    if (!m_source)
        return 255;
    char buf[kMaxMessage + 1];
    int n = m_source->receive(buf, kMaxMessage, kReceiveWaitMs);
    if (n < 0) {
        debugPrint("UsbServer select error:%m\n");
        return 255;
    }
    if (n == 0)
        return 0;
    buf[n] = '\0';
    handleMessage(buf);
    return 0;
}

void UsbServer::handleMessage(const char *text)
{
    const std::vector<std::string> parts = splitParts(text);
    for (size_t i = 0; i < parts.size() && !m_stop; ++i) {
        const std::string &p = parts[i];
        if (p == "add@") {
            usb_signal(100);
        } else if (p == "remove@") {
            usb_signal(101);
        } else if (p == "block" && i + 2 < parts.size() && parts[i + 1] == "sda" &&
                   isFirstStickPartition(parts[i + 2])) {
            if (!waitForStorage() || !waitTicks(kStorageSettleTicks))
                continue;
            usb_signal(102);
            closeSettingMenu();
        }
    }
}

// Waits, with pauses, until the system has registered the stick's storage;
// false when it does not appear in time.
bool UsbServer::waitForStorage()
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_storageWaitMs.load());
    while (!platform::files::exists(kUsbStorage)) {
        if (m_stop || std::chrono::steady_clock::now() >= until) {
            debugPrint("UsbServer: no usb storage\n");
            return false;
        }
        pause(std::chrono::milliseconds(20));
    }
    return true;
}

bool UsbServer::waitTicks(uint32_t ticks)
{
    const uint32_t stamp = G_timeTicks.load();
    while (Utils::getTimeSpace(stamp) < ticks) {
        if (m_stop)
            return false;
        pause(std::chrono::milliseconds(10));
    }
    return true;
}

// The Setting menu closes when a stick is ready; the front panel is only
// touched in the GUI thread.
void UsbServer::closeSettingMenu()
{
    front_panel::close_setting_menu();
}
