// Register commands 0xA0 (write) and 0xA1 (read). Sent to the sending card
// they reach the FPGAs' one-byte registers; sent to the controller they reach
// its command-register file, and writing some of its registers makes the
// device act: apply the image (11), install an application and reboot (14),
// factory defaults (16), SDI receiver reset (17), the upgrade pop-up (9, 10),
// debug requests for the chip thread (162-165) and the input thread (160), and
// direct actions (161).

#include "protocol/message_deal.h"

#include "app/front_panel.h"
#include "app/global.h"
#include "app/logMsg.h"
#include "app/para_defaults.h"
#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/timing.h"
#include "protocol/zem_file_deal.h"
#include "sendcard/fpga_manage.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_manage.h"

#include <QDir>
#include <QSettings>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr uint8_t REG_LIMIT = 170;   // register numbers from here on are refused

// Bytes of the register file that hold the registers above 31.
constexpr int FILE_160 = 32;
constexpr int FILE_165 = 33;
constexpr int FILE_162 = 34;
constexpr int FILE_163 = 35;
constexpr int FILE_164 = 36;

constexpr uint16_t DBD_SINGLE_INPUT = 0;
constexpr uint16_t DBD_VBO_IN12 = 8;
constexpr uint16_t DBD_VBO_IN12V = 9;

const char *const APP_RECEIVED = "/data/app/zemR47N2";
const char *const APP_INSTALLED = "/data/app/zemR47N";
const char *const APP_DIR = "/data/app";
const char *const LAUNCHER_FILE = "/data/configs/led_load_config.ini";
const char *const MODES_DIR = "/data/modes";
const char *const FACTORY_IP = "192.168.0.199";

bool isLocal(const uint8_t *body)
{
    uint16_t dest = para::get16(body, 0);
    return dest == 0xF100 || dest == 0xF101;
}

// Byte of the register file that stores register r; -1 when it has none.
int fileIndex(uint8_t r)
{
    if (r < para::REGISTER_FILE_SIZE)
        return r;
    switch (r) {
    case 160: return FILE_160;
    case 165: return FILE_165;
    case 162: return FILE_162;
    case 163: return FILE_163;
    case 164: return FILE_164;
    default: return -1;
    }
}

ZemRamPara *store() { return ZemRamPara::pInstance(); }

// Serialises the masked merge into the ordinary registers, so that links
// writing different bits of one register at once keep both. Held only
// around the merge, never while the image's lock is taken.
std::mutex regFileMutex;

// The ordinary registers are read by other links without the merge lock, and
// register 160 is read and cleared bit by bit by the input thread: their
// bytes are stored and read whole.
void storeShared(uint8_t *byte, uint8_t v) { __atomic_store_n(byte, v, __ATOMIC_RELEASE); }
uint8_t loadShared(const uint8_t *byte) { return __atomic_load_n(byte, __ATOMIC_ACQUIRE); }

// Default of image byte n (the built-in file starts with its two mark bytes
// and image byte 768).
void restoreDefaults(uint8_t *img, uint32_t from, uint32_t to)
{
    const uint32_t shift = para::PERSISTENT_START - 2;
    std::memcpy(img + from, default_para_ramlist + (from - shift), to - from);
}

bool ledGeometryChanged(const ZemRamPara *s)
{
    for (uint32_t off : {para::LED_SPLICE, para::LED_WIDTH, para::LED_HEIGHT})
        if (para::get16(s->ram_para, off) != para::get16(s->ram_para_back, off))
            return true;
    return false;
}

// The new geometry has been acted on: a later apply, before the chip's pass,
// does not take it for a change again. Called with ParaLock held.
void settleLedGeometry(ZemRamPara *s)
{
    for (uint32_t off : {para::LED_SPLICE, para::LED_WIDTH, para::LED_HEIGHT})
        s->settle_word(off, s->word(off));
}

// Asks the FPGA thread to take the new LED geometry, when both FPGAs run.
// Called with ParaLock held (lock order: the image's lock, then LED init).
void requestLedGeometry()
{
    fpga_manage *f = fpga_manage::pInstance();
    if (f->reg_shadow(0, 80) != 3 || f->reg_shadow(1, 80) != 3)
        return;
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = 1;
        g_set_led_setup = 0;
    }
    f->wake();
}

// The pop-up is shown once per upgrade, whichever of the registers or the
// file transfer starts it first; only the end that finds it up hides it.
void upgradePopupState(bool on)
{
    if (on) {
        file_transfer::panel_step(file_transfer::PanelStep::UpgradeStart);
        return;
    }
    if (g_update_flag.exchange(0) == 1)
        front_panel::hide_upgrade_popup();
    store()->test_signal(106);
}

void requestReboot()
{
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
}

// Register 161 bits 2-5: point-to-point of window 0. Bit 2 switches it off;
// otherwise the first of bits 3, 4, 5 switches it on in its mode.
void pointToPoint(uint8_t bits)
{
    bool on = true;
    uint16_t mode = 0;
    if (bits & 0x04)
        on = false;
    else if (bits & 0x08)
        mode = DBD_SINGLE_INPUT;
    else if (bits & 0x10)
        mode = DBD_VBO_IN12;
    else if (bits & 0x20)
        mode = DBD_VBO_IN12V;
    else
        return;
    ZemRamPara *s = store();
    const uint32_t fOff = para::window(0, para::WIN_FLAGS);
    const uint32_t dOff = para::window(0, para::WIN_P2P_MODE);
    ParaLock lock;
    const uint16_t f = s->word(fOff);
    const uint16_t d = s->word(dOff);
    const uint16_t newF = on ? uint16_t(f | para::WIN_FLAG_P2P) : uint16_t(f & ~para::WIN_FLAG_P2P);
    const uint16_t newD = on ? mode : d;
    if (newF == f && newD == d)
        return;
    raise_apply_request_locked(1);
    s->setWord(fOff, newF);
    s->setWord(dOff, newD);
}

void register161(uint8_t bits)
{
    if (bits & 0x01)
        requestReboot();
    if (bits & 0x02)
        c331_manage::instance()->c331_print();
    if (bits & 0x3C)
        pointToPoint(bits);
}

// Sets the permissions of everything under the application folder to 0777
// (links are left alone: what they lead to is not the folder's).
void openAppFolder()
{
    platform::files::setPermissionsBelow(APP_DIR, 0777);
}

bool rewriteLauncher()
{
    platform::ensureDir("/data/configs");
    // QSettings would block on a FIFO (at the file or its lock) and write
    // through a link onto its target.
    if (!platform::files::settingsWritable(LAUNCHER_FILE))
        return false;
    QSettings *ini = new QSettings(platform::qpath(QString::fromLatin1(LAUNCHER_FILE)), QSettings::IniFormat);
    ini->beginGroup(QStringLiteral("app-1"));
    ini->setValue(QStringLiteral("app_path"), QStringLiteral("/data/app/zemR47N -platform linuxfb"));
    ini->setValue(QStringLiteral("app_name"), QStringLiteral("zemR47N"));
    ini->endGroup();
    ini->sync();
    bool ok = ini->status() == QSettings::NoError;
    delete ini;
    return ok;
}

// Installs the received application; true once it replaced the old one.
bool installApplication()
{
    static std::mutex installMutex;   // one installation at a time, whichever link asks
    std::lock_guard<std::mutex> lock(installMutex);
    if (g_app_reset_flag)
        return true;   // already installed (or a reboot is pending): once per boot
    if (!platform::files::exists(APP_RECEIVED)) {
        debugPrint("\n no received application to install \n");
        return false;
    }
    openAppFolder();
    platform::pauseMs(10);
    if (!platform::files::move(APP_RECEIVED, APP_INSTALLED)) {
        debugPrint("\n the received application could not be installed \n");
        return false;
    }
    if (g_update_status == 0 && !rewriteLauncher())
        debugPrint("\n the launcher file could not be written \n");
    platform::pauseMs(10);
    platform::files::sync();
    platform::pauseMs(10);
    requestReboot();
    return true;
}

void removeUserModeFiles()
{
    QDir dir(platform::qpath(QString::fromLatin1(MODES_DIR)));
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString &name : names)
        platform::files::remove(std::string(MODES_DIR) + "/" + name.toStdString());
}

} // namespace

uint32_t message_deal::write_register(uint8_t *body, uint32_t length)
{
    if (length < 14 || body[10] >= REG_LIMIT) {
        body[10] = 1;
        return 1;
    }
    const uint8_t r = body[10];
    const uint8_t m = body[11];
    const uint8_t v = body[13];

    if (!isLocal(body)) {
        fpga_manage *f = fpga_manage::pInstance();
        if (body[7] == 1) {
            f->write_to_register(r, m, v, 0);
        } else if (body[7] == 2) {
            f->write_to_register(r, m, v, 1);
        } else {
            f->write_to_register(r, m, v, 0);
            f->write_to_register(r, m, v, 1);
        }
        body[10] = 0;
        return 1;
    }

    uint8_t *file = store()->reg_para;
    uint8_t status = 0;
    switch (r) {
    case 12:
    case 13:
        break;
    case 160:
        storeShared(&file[FILE_160], uint8_t(v & m));
        if (tarixsource::p_tarix_source)
            tarixsource::p_tarix_source->wake();   // its thread serves the bits
        break;
    case 161:
        register161(uint8_t(v & m));
        break;
    case 162:
    case 164:
    case 165: {
        // The chip thread reads and clears these bytes under the same lock.
        ParaLock lock;
        file[fileIndex(r)] = uint8_t(v & m);
        raise_apply_request_locked(1);
        break;
    }
    case 163: {
        ParaLock lock;
        file[FILE_163] = uint8_t(v + 1);   // the dump mode plus one; 0 = none
        raise_apply_request_locked(1);
        break;
    }
    default: {
        const int n = fileIndex(r);
        if (n < 0) {
            status = 1;   // no storage behind this number
            break;
        }
        if (n >= FILE_165) {
            // The bytes of registers 162 to 165 under their file numbers 33
            // to 36: the chip thread takes and clears them under the image's
            // lock, so they are merged under it too.
            ParaLock lock;
            file[n] = uint8_t((v & m) | (file[n] & ~m));
        } else {
            std::lock_guard<std::mutex> lock(regFileMutex);
            storeShared(&file[n], uint8_t((v & m) | (loadShared(&file[n]) & ~m)));
        }
        status = reg_cmd_run(r, m) == 1 ? 1 : 0;
        break;
    }
    }
    body[10] = status;
    return 1;
}

uint32_t message_deal::read_register(uint8_t *body, uint32_t length)
{
    if (length < 11)
        return 0;
    if (length < 12)
        body[11] = 0;
    const uint8_t r = body[10];
    if (r >= REG_LIMIT) {
        body[11] = 1;
        return 2;
    }
    body[10] = 0;
    if (isLocal(body)) {
        if (r != 4 && r != 6)
            body[11] = 0;
        return 2;
    }
    const uint8_t n = body[7] == 2 ? 1 : 0;
    fpga_manage *f = fpga_manage::pInstance();
    f->read_from_register(r, n);
    body[11] = f->reg_shadow(n, r);
    return 2;
}

uint8_t message_deal::reg_cmd_run(uint8_t reg, uint8_t mask)
{
    switch (reg) {
    case 4: return REG_fuction(reg, mask);
    case 5: return REG_FLASH_STATUS1_flag(reg, mask);
    case 9: return REG_comm_flag(reg);
    case 10: return REG_com1_flag(reg, mask);
    case 11: return REG_mcu_flag(reg, mask);
    case 14: return RegUpdate0E(mask);
    case 16: return RegUpdate10(mask);
    case 17: return RegUpdate11(mask);
    default: return 1;
    }
}

uint8_t message_deal::REG_fuction(uint8_t, uint8_t) { return 0; }

uint8_t message_deal::REG_FLASH_STATUS1_flag(uint8_t, uint8_t) { return 0; }

uint8_t message_deal::REG_comm_flag(uint8_t reg)
{
    upgradePopupState(loadShared(&store()->reg_para[reg]) > 15);
    return 0;
}

uint8_t message_deal::REG_com1_flag(uint8_t reg, uint8_t)
{
    upgradePopupState((loadShared(&store()->reg_para[reg]) & 0x7F) != 0);
    return 0;
}

// Applies what the PC tool wrote into the image, loading the chosen user
// mode first.
uint8_t message_deal::REG_mcu_flag(uint8_t, uint8_t mask)
{
    ZemRamPara *s = store();
    uint8_t *img = s->ram_para;
    if (mask & 0x02) {
        ParaLock lock;
        // 1. User mode.
        const uint16_t M = s->word(para::CURRENT_USER_MODE);
        const uint16_t S = para::get16(s->ram_para_back, para::CURRENT_USER_MODE);
        if (M != 0 && M != S) {
            // Slots are 1..16; a larger number names no slot and loads nothing.
            const uint8_t *slot = M <= para::MODE_COUNT ? s->user_mode_ram[M - 1] : nullptr;
            if (slot && slot[0] == 0xAA && slot[1] == 0xAA) {
                std::memcpy(img + para::SLOT_IMAGE_START, slot + para::SLOT_DATA, para::SLOT_DATA_SIZE);
                s->setWord(para::USER_MODE_SAVE, 0);
                c331_manage::instance()->recall_osd_menu(M - 1);
                // Recalled, as leaving the mode below is done: an apply that
                // comes before the chip's pass judges against this one, and
                // does not load the slot again over what was written since.
                s->settle_word(para::CURRENT_USER_MODE, M);
            }
        } else if (M == S) {
            s->settle_word(para::CURRENT_USER_MODE, 0);
        }

        // 2. Audio window.
        uint16_t a = s->word(para::AUDIO_WINDOW);
        if (a > 5) {
            s->setWord(para::AUDIO_WINDOW, 0);
            a = 0;
        }
        if (s->word(para::window(a, para::WIN_ENABLE)) == 0)
            s->setWord(para::AUDIO_WINDOW, 0);

        // 3. LED geometry.
        if (ledGeometryChanged(s)) {
            if (M >= 2 && M == S) {
                for (uint32_t i = 1; i < para::WINDOW_COUNT; ++i)
                    s->setWord(para::window(i, para::WIN_ENABLE), 0);
                s->setWord(para::window(0, para::WIN_X), 0);
                s->setWord(para::window(0, para::WIN_Y), 0);
                s->setWord(para::window(0, para::WIN_W), s->word(para::LED_WIDTH));
                s->setWord(para::window(0, para::WIN_H), s->word(para::LED_HEIGHT));
            }
            // Crops are laid out for the old wall: windows show their source.
            for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i) {
                const uint32_t off = para::window(i, para::WIN_SOURCE);
                const uint16_t src = s->word(off);
                if (!(src & para::WIN_SOURCE_CROP))
                    continue;
                const uint32_t entry = src & 0xFF;
                const uint16_t to = entry < para::CROP_ENTRIES ? uint16_t(img[para::crop_record(entry)] & 0x0F) : 0;
                s->setWord(off, to);
            }
            requestLedGeometry();
            s->setWord(para::AUDIO_WINDOW, 0);
            settleLedGeometry(s);
        }

        // 4. Switch effect into every window.
        const uint16_t effect = s->word(para::SWITCH_EFFECT);
        for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i) {
            const uint32_t off = para::window(i, para::WIN_FLAGS);
            const uint16_t f = s->word(off);
            const uint8_t low = uint8_t((f & 0xF3) | (effect << 2));
            s->setWord(off, uint16_t((f & 0xFF00) | low));
        }

        // 5. Freeze and point-to-point exclude each other; the newer wins.
        for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i) {
            const uint32_t off = para::window(i, para::WIN_FLAGS);
            uint16_t f = s->word(off);
            const uint16_t p = para::get16(s->ram_para_back, off);
            if ((f & para::WIN_FLAG_FREEZE) && (p & para::WIN_FLAG_P2P)) {
                f &= uint16_t(~para::WIN_FLAG_P2P);
                s->setWord(para::POINT_TO_POINT, 0);
            } else if ((p & para::WIN_FLAG_FREEZE) && (f & para::WIN_FLAG_P2P)) {
                f &= uint16_t(~para::WIN_FLAG_FREEZE);
            }
            // The next apply judges which is newer against this one.
            s->settle_word(off, f);
        }

        // A save asked for is taken with the image as this apply leaves it.
        s->take_save_request_locked();
        // 6.
        raise_apply_request_locked(1);
    }
    if (mask & 0x04) {
        ParaLock lock;
        s->take_save_request_locked();
        raise_apply_request_locked(2);
    }
    if (mask & 0x08) {
        ParaLock lock;
        if (s->word(para::OSD_FLAG) == 1) {
            raise_apply_request_locked(1);
            g_osd_update = 1;
        }
    }
    return 0;
}

// Installs a received application and reboots; 1 when there was nothing to
// install or it could not be moved into place (no reboot then).
uint8_t message_deal::RegUpdate0E(uint8_t mask)
{
    uint8_t result = 0;
    if ((mask & 0x01) && !installApplication())
        result = 1;
    if (mask & 0x02) {
        platform::pauseMs(100);
        platform::shell::run("reboot");
    }
    if (mask & 0x08) {
        c331_manage *chip = c331_manage::instance();
        chip->read_c331_font(chip->c331_fd);
        chip->update_font(chip->c331_fd);
    }
    return result;
}

// Factory defaults.
uint8_t message_deal::RegUpdate10(uint8_t mask)
{
    ZemRamPara *s = store();
    uint8_t *img = s->ram_para;
    if (mask & 0x01) {
        removeUserModeFiles();
        platform::pauseUs(100);
        // The chip thread reads the image during its pass: copy under its lock.
        ParaLock lock;
        restoreDefaults(img, para::PERSISTENT_START, para::EDID_BASE);
        restoreDefaults(img, para::LED_SPLICE, para::IMAGE_SIZE);
        for (uint32_t n = 0; n < para::MODE_COUNT; ++n) {
            s->user_mode_ram[n][0] = 0xFF;
            s->user_mode_ram[n][1] = 0xFF;
        }
        if (ledGeometryChanged(s)) {
            requestLedGeometry();
            s->setWord(para::AUDIO_WINDOW, 0);
            settleLedGeometry(s);
        }
        raise_apply_request_locked(1);
    }
    if (mask & 0x02) {
        ParaLock lock;
        restoreDefaults(img, para::EDID_BASE, para::LED_SPLICE);
        raise_apply_request_locked(1);
    }
    if (mask & 0x10) {
        ParaLock lock;
        restoreDefaults(img, para::BRIGHTNESS, para::BLUE_GAIN + 2);
        raise_apply_request_locked(1);
    }
    if (mask & 0x20) {
        bool factoryIp;
        {
            std::lock_guard<std::mutex> lock(g_config_text_mutex);
            factoryIp = g_str_ip == QLatin1String(FACTORY_IP);
        }
        if (!factoryIp)
            s->test_signal(3);
    }
    return 0;
}

// SDI receiver reset, served by the input thread.
uint8_t message_deal::RegUpdate11(uint8_t mask)
{
    if (mask & 0x01)
        tarixsource::pInstance()->request_sdi_reset();
    return 0;
}
