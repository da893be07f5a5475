#include "app/syncupdate.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/usbserver.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/hid.h"
#include "ui/advancedoption.h"
#include "ui/imagequality.h"
#include "ui/input/custommode.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/inputchoose.h"
#include "ui/input/inputcut.h"
#include "ui/linkoption.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/mainwindow.h"
#include "ui/option.h"
#include "ui/output/lcdshow.h"
#include "ui/output/ledset.h"
#include "ui/output/netset.h"
#include "ui/output/quality.h"
#include "ui/output/smartmapping.h"
#include "ui/output/temperature.h"
#include "ui/output/test_chart.h"
#include "ui/outputset.h"
#include "ui/pages.h"
#include "ui/system/factory.h"
#include "ui/system/factoryage.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/system/linkcom.h"
#include "ui/system/linkwlan.h"
#include "ui/system/othersetup.h"
#include "ui/system/rcv_recovery.h"
#include "ui/tip.h"

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <string>

SyncUpdate *SyncUpdate::p_SyncUpdate = nullptr;

namespace {

constexpr uint16_t KEYPAD_VENDOR = 0x28E9;
constexpr uint16_t KEYPAD_PRODUCT = 0x0380;

bool windowEnabled(const uint8_t *image, uint8_t w)
{
    return w < para::WINDOW_COUNT && (para::get16(image, para::window(w, para::WIN_ENABLE)) & 1);
}

bool sourceHasSignal(const uint8_t *image, int s)
{
    const uint32_t off = para::timing_record(static_cast<uint32_t>(s));
    return para::get16(image, off) != 0 && para::get16(image, off + 2) != 0 && para::get16(image, off + 4) != 0;
}

bool currentWindowEnabled(ZemRamPara *store)
{
    const uint8_t w = g_image_current.load();
    if (w >= para::WINDOW_COUNT)
        return false;
    uint8_t enable[2];
    store->copy_image(enable, para::window(w, para::WIN_ENABLE), sizeof enable);
    return para::get16(enable, 0) & 1;
}

} // namespace

SyncUpdate::SyncUpdate() : QObject(nullptr)
{
    m_persist_timer.setSingleShot(true);
    m_persist_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_persist_timer, &QTimer::timeout, this, &SyncUpdate::persist_image);
    m_save_timer.setSingleShot(true);
    m_save_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_save_timer, &QTimer::timeout, this, &SyncUpdate::saves_due);
    writeLogMsg(LOG_INFO, "SyncUpdate created");
}

SyncUpdate *SyncUpdate::pInstance()
{
    if (!p_SyncUpdate)
        p_SyncUpdate = new SyncUpdate();
    return p_SyncUpdate;
}

void SyncUpdate::resetForTest()
{
    delete p_SyncUpdate;
    p_SyncUpdate = nullptr;
}

void SyncUpdate::build_keyLed(const uint8_t *image, uint8_t current, bool updating, uint8_t report[5])
{
    std::memset(report, 0, 5);
    report[0] = updating ? 0x5A : 0xA5;
    if (current >= para::WINDOW_COUNT)
        return;

    if (windowEnabled(image, current)) {
        static const uint8_t windowKey[6][2] = {{1, 0x01}, {1, 0x04}, {1, 0x10}, {1, 0x40}, {2, 0x01}, {2, 0x04}};
        report[windowKey[current][0]] |= windowKey[current][1];
    }

    // Only the source the current window shows is lit (a crop counts as its source).
    int16_t isCrop = 0;
    char cropEntry = 0;
    const int source = ZemRamPara::p_zemrampara_config->ZemGetImageSource(image, current, &isCrop, &cropEntry, 0);
    if (source >= 0 && source < static_cast<int>(para::INPUT_COUNT)) {
        // byte, bit with signal, bit without signal
        static const uint8_t sourceKey[6][3] = {{2, 0x10, 0x20}, {2, 0x40, 0x80}, {3, 0x10, 0x20},
                                                {3, 0x40, 0x80}, {3, 0x01, 0x02}, {3, 0x04, 0x08}};
        const uint8_t *k = sourceKey[source];
        report[k[0]] |= sourceHasSignal(image, source) ? k[1] : k[2];
    }

    const uint16_t flags = para::get16(image, para::window(current, para::WIN_FLAGS));
    if (flags & para::WIN_FLAG_FREEZE)
        report[4] |= 0x01;
    if (flags & para::WIN_FLAG_BLACK)
        report[4] |= 0x04;
}

void SyncUpdate::update_usb_keyLed()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    // The report is built from one consistent copy of the image.
    uint8_t image[para::IMAGE_SIZE];
    store->copy_image(image, 0, sizeof image);
    uint8_t report[5];
    build_keyLed(image, g_image_current.load(), g_update_flag.load() != 0, report);
    if (std::memcmp(report, m_keyLed, sizeof report) == 0)
        return;

    platform::hid::Handle *h = platform::hid::open(KEYPAD_VENDOR, KEYPAD_PRODUCT);
    if (!h) {
        debugPrint("handle error\n");
    } else {
        if (platform::hid::write(h, report, sizeof report) < 0)
            debugPrint("handle write error\n");
        platform::hid::close(h);
    }
    // Kept whether sending worked or not, so an unchanged report is not resent.
    std::memcpy(m_keyLed, report, sizeof report);
}

// notify() runs in the sending thread and decides there: a direct
// connection. Listening twice to one sender connects once. The store emits
// under Utils::_test_signal_mutex: connecting under it too shows the thread
// checker, which does not see Qt's own locks, that the connection (and this
// object) were made before any worker's emission reaches them. The USB
// listener emits only once the tick has set g_delay_usbserver, after this.
void SyncUpdate::listen_to(ZemRamPara *store)
{
    std::lock_guard<std::recursive_mutex> lock(Utils::_test_signal_mutex);
    QObject::connect(store, &ZemRamPara::sig_update_para, this, &SyncUpdate::notify,
                     Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
    store->set_save_hook([this] { post_save(); });
}

void SyncUpdate::listen_to(UsbServer *usb)
{
    QObject::connect(usb, &UsbServer::sig_usb_update, this, &SyncUpdate::notify,
                     Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
}

void SyncUpdate::notify(int code)
{
    if (QThread::currentThread() == thread()) {
        para_sync(code);
        return;
    }
    bool post;
    {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        m_queued.erase(std::remove(m_queued.begin(), m_queued.end(), code), m_queued.end());
        m_queued.push_back(code);
        post = !m_drain_posted;
        m_drain_posted = true;
    }
    if (post)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void SyncUpdate::post_save()
{
    bool post;
    {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        m_save_waiting = true;
        post = !m_drain_posted;
        m_drain_posted = true;
    }
    // Always queued: the caller may hold the image's lock.
    if (post)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void SyncUpdate::drain()
{
    std::vector<int> codes;
    bool save;
    {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        codes.swap(m_queued);
        save = m_save_waiting;
        m_save_waiting = false;
        m_drain_posted = false;
    }
    if (!codes.empty())
        dispatch(codes);
    // A save asked for with no notification yet (register 11 before the
    // chip's pass) is stored now.
    if (save)
        saves_due();
}

void SyncUpdate::para_sync(int code)
{
    dispatch({code});
}

namespace {

bool isUsbNotice(int code)
{
    return code == 100 || code == 101 || code == 102;
}

} // namespace

void SyncUpdate::dispatch(const std::vector<int> &codes)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;

    if (g_page_focus != page::ImageLayout && !currentWindowEnabled(store))
        g_image_current = 0;

    if (g_zem_keys)
        update_usb_keyLed();

    // The upgrade's start and end only relight the keypad. Of the USB
    // notices only the last tells how the stick is now.
    const auto lastUsb = std::find_if(codes.rbegin(), codes.rend(), isUsbNotice);
    std::vector<int> refreshed;
    for (auto it = codes.begin(); it != codes.end(); ++it)
        if (*it != 105 && *it != 106 && (!isUsbNotice(*it) || it == lastUsb.base() - 1))
            refreshed.push_back(*it);
    if (refreshed.empty())
        return;
    auto has = [&refreshed](int code) {
        return std::find(refreshed.begin(), refreshed.end(), code) != refreshed.end();
    };

    for (int code : refreshed)
        refresh_page(code);
    if (save_user_mode())
        show_saved_mode();
    if (has(2))
        check_user_modes();
    persist_image();

    if (g_page_focus == page::LinkOption)
        TIP::tip_create(1);

    if (has(3))
        network_reset();
}

void SyncUpdate::refresh_page(int code)
{
    switch (g_page_focus.load()) {
    case page::Lock: if (g_lockwindow) g_lockwindow->syncUpdate(); break;
    case page::Main:
        if (g_mainwindow) {
            g_mainwindow->syncUpdate();
            if (g_mainwindow->notice_pending) {
                g_mainwindow->notice_pending = false;
                TIP::tip_create(1);
            }
        }
        break;
    case page::MachineState: if (g_machinestate) g_machinestate->syncUpdate(code); break;
    case page::InputChoose: if (g_inputchoose) g_inputchoose->syncUpdate(code); break;
    case page::CustomMode: if (g_custommode) g_custommode->syncUpdate(); break;
    case page::Option: if (g_option) g_option->syncUpdate(); break;
    case page::OutputSet: if (g_outputset) g_outputset->syncUpdate(); break;
    case page::InputCut: if (g_inputcut) g_inputcut->syncUpdate(code); break;
    case page::EdidSet: if (g_edidset) g_edidset->syncUpdate(); break;
    case page::ImageLayout: if (g_imagelayout) g_imagelayout->syncUpdate(); break;
    case page::LinkOption:
        if (g_linkoption) {
            g_linkoption->syncUpdate();
            TIP::tip_create(1);
        }
        break;
    case page::ImageQuality: if (g_imagequality) g_imagequality->syncUpdate(); break;
    case page::AdvancedOption: if (g_advancedoption) g_advancedoption->syncUpdate(); break;
    case page::LedSet: if (g_ledset) g_ledset->syncUpdate(); break;
    case page::NetSet: if (g_netset) g_netset->syncUpdate(); break;
    case page::LcdShow: if (g_lcdshow) g_lcdshow->syncUpdate(); break;
    case page::TestChart: if (g_test_chart) g_test_chart->syncUpdate(); break;
    case page::OtherSetup: if (g_othersetup) g_othersetup->syncUpdate(); break;
    case page::Factory: if (g_factory) g_factory->syncUpdate(); break;
    case page::Quality: if (g_quality) g_quality->syncUpdate(); break;
    case page::Temperature: if (g_temperature) g_temperature->syncUpdate(); break;
    case page::LinkCom: if (g_linkcom) g_linkcom->syncUpdate(); break;
    case page::LinkWlan: if (g_linkwlan) g_linkwlan->syncUpdate(); break;
    case page::FactoryAge: if (g_factoryage) g_factoryage->syncUpdate(); break;
    case page::SmartMapping:
        if (g_smartmapping) {
            g_smartmapping->syncUpdate(code);
            TIP::usb_notice(code);
        }
        break;
    case page::RcvRecovery: if (g_rcv_recovery) g_rcv_recovery->syncUpdate(code); break;
    case page::FirmwareUsbgrade:
        if (g_firmware_usbgrade) {
            g_firmware_usbgrade->syncUpdate(code);
            TIP::usb_notice(code);
        }
        break;
    default:
        ZemRamPara::p_zemrampara_config->ZemLanguageChanged();
        break;
    }
}

bool SyncUpdate::save_user_mode()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    {
        ImageLock lock(store);
        store->take_save_request_locked();
    }
    // One file a turn, and no sooner after the last than that one took to
    // write: under a flood of saves storing takes at most about half the GUI
    // thread's time, and the tick and the panel go on.
    const std::vector<ZemRamPara::PendingSave> pending = store->pending_saves();
    const auto due = std::find_if(pending.begin(), pending.end(),
                                  [this](const ZemRamPara::PendingSave &save) { return rewrite_wait(save.mode) == 0; });
    const bool storing = m_next_save.hasExpired() && due != pending.end();
    if (storing) {
        QElapsedTimer took;
        took.start();
        // The file is written without the image's locks; the store settles
        // the slot and the current mode once it is known whether the file
        // holds the save.
        store->finish_save(*due, store->mode_file_write(due->mode - 1, 0) != 0);
        m_mode_written[due->mode - 1].start();
        m_next_save.setRemainingTime(took.elapsed());
    }
    schedule_saves();
    return storing;
}

qint64 SyncUpdate::rewrite_wait(uint16_t mode) const
{
    const QElapsedTimer &written = m_mode_written[mode - 1];
    return written.isValid() ? std::max<qint64>(0, MODE_REWRITE_INTERVAL_MS - written.elapsed()) : 0;
}

void SyncUpdate::schedule_saves()
{
    const std::vector<ZemRamPara::PendingSave> pending = ZemRamPara::p_zemrampara_config->pending_saves();
    if (pending.empty())
        return;
    qint64 wait = MODE_REWRITE_INTERVAL_MS;
    for (const ZemRamPara::PendingSave &save : pending)
        wait = std::min(wait, rewrite_wait(save.mode));
    wait = std::max(wait, m_next_save.remainingTime());
    m_save_timer.start(int(std::max<qint64>(wait, 0)));
}

void SyncUpdate::saves_due()
{
    if (save_user_mode())
        show_saved_mode();
    persist_image();
}

void SyncUpdate::show_saved_mode()
{
    // The page in front was drawn before the save: the screens that show the
    // current user mode draw it again.
    switch (g_page_focus.load()) {
    case page::Lock: if (g_lockwindow) g_lockwindow->syncUpdate(); break;
    case page::Main: if (g_mainwindow) g_mainwindow->syncUpdate(); break;
    case page::CustomMode: if (g_custommode) g_custommode->syncUpdate(); break;
    default: break;
    }
}

void SyncUpdate::check_user_modes()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    for (int slot = 0; slot < static_cast<int>(para::MODE_COUNT); ++slot) {
        uint8_t mark[2];
        store->copy_slot(mark, static_cast<uint32_t>(slot), 0, sizeof mark);
        // A save request was taken before (save_user_mode): one written
        // since is a new request and stays. A saved slot whose save waits
        // is written by the save, in its turn.
        if (mark[0] == 0xFF || mark[1] == 0xFF) {
            store->mode_file_deal(slot, 1);
        } else if (mark[0] == 0xAA || mark[1] == 0xAA) {
            {
                ImageLock lock(store);
                if (store->save_pending_locked(uint16_t(slot + 1)))
                    continue;
            }
            // Rewrites the file only when it does not hold the slot already.
            store->mode_file_write(slot, 2);
        }
    }
}

void SyncUpdate::persist_image()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    // Work on one copy of the image: other threads may write it meanwhile.
    // It is compared with what the file last received, so a change is
    // stored once, whether the chip has applied it yet or not. After a
    // failed write the file is still behind: the next notification retries.
    uint8_t image[para::IMAGE_SIZE];
    store->copy_image(image, 0, sizeof image);
    if (!store->para_file_differs(image))
        return;
    // Each rewrite costs the flash a block and two syncs: a change within
    // the interval of the last rewrite waits for it to pass, then the image
    // is stored as it is then.
    if (m_last_persist.isValid() && m_last_persist.elapsed() < PERSIST_INTERVAL_MS) {
        if (!m_persist_timer.isActive())
            m_persist_timer.start(int(PERSIST_INTERVAL_MS - m_last_persist.elapsed()));
        return;
    }
    m_persist_timer.stop();
    m_last_persist.start();
    // The file is replaced as a whole, so a power cut leaves either the old
    // or the new content.
    if (!store->write_para_file(image))
        debugPrint("ram_device_info write error\n");
}
