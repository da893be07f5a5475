#include "protocol/message_deal.h"

#include "app/front_panel.h"
#include "app/global.h"
#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "cloud/message_deal_4g.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "protocol/gui_call.h"
#include "sendcard/clock_record_run.h"
#include "sendcard/fpga_manage.h"
#include "videoproc/c331_manage.h"

#include <QApplication>
#include <QDateTime>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

uint8_t fileBuf_tarix[FILEBUF_TARIX_SIZE];

namespace {

constexpr uint32_t PAGE = fpga_manage::PAGE_SIZE;

uint8_t bcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

bool isLocal(const uint8_t *body)
{
    uint16_t dest = para::get16(body, 0);
    return dest == 0xF100 || dest == 0xF101;
}

// A remote RAM page, decoded once from the address: page type (bits 24-27),
// bank (bits 12-15) and page offset (bits 0-11).
struct RemotePage {
    uint8_t type = 0;
    uint8_t bank = 0;
    uint32_t offset = 0;
    bool status = false;   // type 0 from 0x800: the controller-kept status page
};

// A read is answered from the page offset alone, whatever bits 12-23 hold;
// false when it would leave its 1024-byte page.
bool decodeRemote(uint32_t address, uint32_t len, RemotePage &p)
{
    p.type = uint8_t((address >> 24) & 0x0F);
    p.bank = uint8_t((address >> 12) & 0x0F);
    const uint32_t o = address & 0xFFF;
    p.status = p.type == 0 && o >= 0x800;
    p.offset = p.status ? o - 0x800 : o;
    return p.offset + len <= PAGE;
}

// A write lands where the whole address points: address bits 16-23, or a
// bank on a page type without banks, would carry it past its page.
bool decodeRemoteWrite(uint32_t address, uint32_t len, RemotePage &p)
{
    if (!decodeRemote(address, len, p) || (address & 0xFF0000))
        return false;
    return p.bank == 0 || p.type == 1 || p.type == 2;
}

// Parameter-page offsets mirrored into the back-parameter image on write.
int writeMirror(uint32_t a) { return fpga_manage::back_para_offset(a); }

// Parameter-page offsets overlaid from the back-parameter image on read.
int readOverlay(uint32_t n)
{
    if (n >= 8 && n <= 11) return int(n - 4);
    if (n >= 19 && n <= 22) return int(n - 7);
    if (n >= 32 && n <= 35) return int(n - 12);
    if (n >= 43 && n <= 46) return int(n - 15);
    if (n >= 56 && n <= 59) return int(n + 76);
    if (n >= 60 && n <= 63) return int(n - 60);
    if (n >= 520 && n <= 547 && (n - 520) % 8 < 4) return int(n - 484);
    if (n >= 576 && n <= 635 && (n - 576) % 8 < 4) return int(n - 508);
    return -1;
}

// FPGAs a RAM write goes to, in order.
std::vector<uint8_t> writeTargets(const uint8_t *body)
{
    if (body[6] != 0)
        return {0};
    if (body[7] == 1)
        return {0};
    if (body[7] == 2)
        return {1};
    return {0, 1};
}

uint8_t readTarget(const uint8_t *body)
{
    if (body[6] != 0)
        return 0;
    return body[7] == 2 ? 1 : 0;
}

// Stores `len` bytes into the status page at `offset`, then the follow-up:
// the multicast parameter word is taken from the page and bit 6 of byte 49
// cleared, in the same locked step as the store.
void writeStatusPage(fpga_manage *f, uint32_t offset, const uint8_t *d, uint32_t len)
{
    const uint32_t word = f->with_pages([&](card_pages &c) {
        std::memcpy(c.MCU_RAM_EXTEND + offset, d, len);
        c.MCU_RAM_EXTEND[49] &= uint8_t(~0x40);
        return para::get32(c.MCU_RAM_EXTEND, 257);
    });
    std::lock_guard<std::mutex> lock(Utils::_fpga_multicast_mutex);
    f->multicast_mode = 0;
    f->multicast_word = word;
}

// Keeps `len` bytes of a page write in the staging buffer `pick` chooses,
// then writes them to FPGA `n`'s RAM bank (outside the owner lock).
template <class Pick>
void stageAndWrite(fpga_manage *f, Pick pick, const uint8_t *d, uint32_t address, uint32_t len, uint8_t bank,
                   uint8_t n)
{
    f->with_pages([&](card_pages &c) { std::memcpy(pick(c), d, len); });
    f->write_fpga_ram(d, address, len, bank, n);
}

// --- Local read windows --------------------------------------------------

const uint8_t FIRST_BLOCK[6] = {6, 3, 9, 9, 8, 8};

uint8_t capabilityByte(uint32_t o)
{
    uint32_t lang = g_lcd_lang_valid.load();
    uint32_t maxPixel = uint32_t(g_zem_max_pixel.load());
    switch (o) {
    case 0: return uint8_t(lang);
    case 2: return 16;
    case 4: case 6: return 0xF8;
    case 5: case 7: return 0x3F;
    case 9: case 11: return 2;
    case 12: case 13: case 14: case 15: return uint8_t(maxPixel >> (8 * (o - 12)));
    case 28: return 6;
    case 30: return 40;
    case 34: case 40: return 8;
    case 36: return 28;
    case 42: case 44: case 47: case 51: case 59: case 60: return 1;
    case 46: return 0x80;
    case 50: return 0x40;
    case 52: return 0xF0;
    case 54: {
        uint8_t mark = 0;
        message_deal_4g::copy_4G_RAM(&mark, 0, 1);
        return mark == 0xAA ? 1 : 0;
    }
    case 56: return 31;
    case 58: return (lang & (1u << 17)) ? 2 : 1;
    default: return 0;
    }
}

uint8_t portBlockByte(uint32_t o)
{
    switch (o) {
    case 0: return 0x52;
    case 1: return 0x97;
    case 2: return 25;
    case 4: return 12;
    case 6: case 18: case 20: case 40: case 42: return 1;
    case 16: case 38: return 2;
    case 64: case 65: case 96: case 97: return 15;
    case 66: case 67: case 98: case 99: return 3;
    default: return 0;
    }
}

// The user-mode window of a local read, `n` bytes from address `a` of a read
// that starts at `first`. The read names one record, that of user mode k =
// bits 12-19 of its start (a read starting in the image names mode 1's), and
// runs on through the 4098-byte records as they lie back to back: past
// offset 4095 it gives the record's last two bytes, then the next record's
// mark. Past mode 16's record it reads 0.
void copySlotRecords(const ZemRamPara *store, uint64_t first, uint64_t a, uint8_t *out, uint32_t n)
{
    static_assert(sizeof store->user_mode_ram == para::MODE_COUNT * para::SLOT_SIZE, "records lie back to back");
    const uint8_t *records = reinterpret_cast<const uint8_t *>(store->user_mode_ram);
    const uint64_t k = std::max<uint64_t>(1, (first >> 12) & 0xFF);
    const uint64_t at = (k - 1) * para::SLOT_SIZE + (a - k * 0x1000);
    const uint64_t size = sizeof store->user_mode_ram;
    const uint64_t have = at < size ? std::min<uint64_t>(n, size - at) : 0;
    std::memcpy(out, records + at, have);
    std::memset(out + have, 0, n - have);
}

// Texts of any length from the configuration store: what does not fit the
// block is cut.
void putByte(std::vector<uint8_t> &b, uint32_t &pos, uint8_t v)
{
    if (pos < b.size())
        b[pos++] = v;
}

void putText(std::vector<uint8_t> &b, uint32_t &pos, const QString &text)
{
    QByteArray bytes = text.toLatin1();
    putByte(b, pos, uint8_t(bytes.size()));
    for (char c : bytes)
        putByte(b, pos, uint8_t(c));
}

// The 4096-byte device-information block; `withState` asks the cloud side
// for its properties to fill byte 0.
std::vector<uint8_t> deviceInfoBlock(message_deal_4g *deal4g, bool withState)
{
    std::vector<uint8_t> b(0x1000 + 1024, 0);
    fpga_manage *f = fpga_manage::p_fpga_manage;
    if (withState) {
        bool ok = deal4g->get_4G_property() == 0 && f && f->reg_shadow(0, 80) == 3 && f->vbyone_ready[0];
        b[0x00] = ok ? 0xAA : 0;
    }
    const std::pair<uint32_t, uint8_t> fixed[] = {
        {0x01, 1}, {0x03, 1}, {0x04, 0x52}, {0x05, 0x97}, {0x06, 0x43}, {0x07, 11}, {0x08, 20},
        {0x11, 8}, {0x12, 0x52}, {0x13, 0x97}, {0x14, 2}, {0x15, 0x26}, {0x16, 9}, {0x17, 0x28},
        {0x19, 11}, {0x29, 0x43}, {0x2A, 11}, {0x2B, 11}, {0x42, 12}};
    for (const auto &e : fixed)
        b[e.first] = e.second;
    b[0x09] = uint8_t(g_Kumo_cloud.load());
    b[0x10] = g_update_status.load();
    para::set32(b.data(), 0x1C, G_timeTicks.load() / 20);
    if (f) {
        f->with_pages([&](card_pages &c) {
            for (int k = 0; k < 4; ++k)
                b[0x2C + k] = c.MCU_REG_func[0][31 - k];   // registers 31 down to 28
        });
        std::memcpy(&b[0x6B], f->flash_uid, 16);
        uint16_t cards = f->rcv_card_count.load();
        b[0x7C] = b[0x7E] = uint8_t(cards);
        b[0x7D] = b[0x7F] = uint8_t(cards >> 8);
    }
    uint8_t property[sizeof g_4G_property];
    message_deal_4g::copy_4G_property(property);
    std::memcpy(&b[0x43], property + 25, 12);
    std::memcpy(&b[0x65], property + 68, 4);
    uint16_t port = para::get16(property, 126);
    b[0x69] = uint8_t(port >> 8);
    b[0x6A] = uint8_t(port);
    // The wall's width and height, one copy taken under the image's lock: a
    // pair that another link or the chip thread is writing is never mixed.
    static_assert(para::LED_HEIGHT == para::LED_WIDTH + 2, "the wall's size is one 4-byte run");
    uint8_t size[4];
    ZemRamPara::pInstance()->copy_image(size, para::LED_WIDTH, sizeof size);
    b[0x80] = size[1];
    b[0x81] = size[0];
    b[0x82] = size[3];
    b[0x83] = size[2];
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    uint32_t pos = 0x84;
    putText(b, pos, g_Kumo_cloudserverip);
    int sport = g_Kumo_cloudserverport.load();
    putByte(b, pos, uint8_t(sport));
    putByte(b, pos, uint8_t(sport >> 8));
    putText(b, pos, g_Kumo_clouduserid);
    putText(b, pos, g_Kumo_controllername);
    b.resize(0x1000);
    return b;
}

// --- Screen capture --------------------------------------------------------

constexpr std::chrono::seconds CAPTURE_WAIT{5};
std::atomic<uint8_t> flag_tarix{0};   // 1 while a capture is being taken
uint32_t len_tarix = 0;               // size of the last capture (under _file_deal_mutex)
// The capture as the data window hands it out: AA AA, then the PNG file. It
// has a buffer of its own, so that a capture never touches the file a
// running transfer is collecting in fileBuf_tarix. Guarded by
// Utils::_file_deal_mutex.
uint8_t captureBuf_tarix[CAPTURE_WINDOW_SIZE];

// The front panel as a PNG picture, taken in the GUI thread; empty without a
// Qt application.
QByteArray grabPng()
{
    QApplication *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app)
        return {};
    if (QThread::currentThread() == app->thread())
        return front_panel::picture_png();
    // The GUI thread takes the picture; its answer comes back through a
    // promise, so a GUI that does not get to it fails the capture instead of
    // holding the link.
    auto done = std::make_shared<std::promise<QByteArray>>();
    std::future<QByteArray> result = done->get_future();
    gui_call::post([done] { done->set_value(front_panel::picture_png()); });
    return result.wait_for(CAPTURE_WAIT) == std::future_status::ready ? result.get() : QByteArray();
}

} // namespace

namespace screen_capture {

Result take()
{
    uint8_t expected = 0;
    if (!flag_tarix.compare_exchange_strong(expected, 1))
        return Result::Busy;
    // The picture is kept as "/123.png" too, replaced as a whole (whatever
    // was left at that name is replaced, never written through), and the
    // capture answers from the picture itself.
    const QByteArray png = grabPng();
    bool ok = !png.isEmpty() && png.size() <= int(CAPTURE_WINDOW_SIZE - 2);
    if (ok) {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        ok = platform::files::writeAtomic("/123.png", png.constData(), size_t(png.size()));
        if (ok) {
            std::memcpy(captureBuf_tarix + 2, png.constData(), size_t(png.size()));
            len_tarix = uint32_t(png.size());
        }
    }
    flag_tarix = 0;
    return ok ? Result::Taken : Result::Failed;
}

uint32_t length()
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    return len_tarix;
}

} // namespace screen_capture

// --- Handler -----------------------------------------------------------------

namespace {
std::atomic<uint64_t> g_next_link_id{1};
}

message_deal::message_deal() : m_4g(new message_deal_4g()), m_link_id(g_next_link_id++) {}

message_deal::~message_deal() { delete m_4g; }

uint32_t message_deal::message_group_deal(uint8_t *body, uint32_t length, uint8_t port)
{
    (void)port;
    if (length < 10)
        return 0;
    m_body_len = length;
    switch (body[9]) {
    case 0x60: return write_ram(body, length);
    case 0x61: return read_ram(body, length);
    case 0x70: return cmd_erase_flash(body);
    case 0x71: return cmd_write_flash(body);
    case 0x72: return cmd_read_flash(body);
    case 0x81: return param_save(body);
    case 0x82: return get_card_version(body);
    case 0x83: return get_card_uid(body);
    case 0x84: return start_update(body, length);
    case 0x87: return write_rtc_time(body, length);
    case 0xA0: return write_register(body, length);
    case 0xA1: return read_register(body, length);
    case 0xA2: return length > 10 ? barcode_group(body) & 0xFFFF : 0;
    case 0xA4: return length > 10 ? net_eth_group(body) : 0;
    case 0xB0: return vedio_write_single_para(body, length);
    case 0xC0: return length > 10 ? write_file_group(body, length) : 0;
    case 0xC1: return length > 10 ? write_edid_table_group(body, length) : 0;
    case 0xC4: return uint32_t(m_4g->message_deal_4G(body));
    case 0xC5: return YP_SendFileData(body);
    case 0xC6: return YP_SendFileEND(body);
    case 0xC7: return YP_SendFileCancel(body);
    case 0xC8: return YP_RecvFile(body);
    case 0xC9: return YP_RecvFileData(body);
    case 0xCA: return YP_RecvFileEnd(body);
    case 0xCB: return YP_RecvFileCancel(body);
    case 0xCC: return YP_SendFile(body);
    case 0x8E: return get_yp_module_info(body);
    case 0x8F: return check_yp_module(body);
    default: return 0;
    }
}

// The group tables fill as their operations are built.
uint32_t message_deal::barcode_group(uint8_t *body)
{
    switch (body[10]) {
    case 30: return set_barcode(body);
    case 31: return read_barcode(body);
    case 32: return set_lcd_lang_support(body);
    default: return 0;
    }
}

uint32_t message_deal::net_eth_group(uint8_t *body)
{
    switch (body[10]) {
    case 0: return init_MAC_address(body);
    case 1: return net_ip_set(body);
    case 3: return net_eth_search(body);
    case 16: return get_device_info(body);
    default: return 0;
    }
}

uint32_t message_deal::write_ram(uint8_t *body, uint32_t length)
{
    if (length < 18) {
        body[10] = 1;
        return 1;
    }
    uint32_t a = para::get32(body, 10);
    uint32_t len = para::get16(body, 14);
    if (18 + len > length) {
        body[10] = 1;   // the count runs past the body
        return 1;
    }
    // The data are taken from the body itself, which is never null, also
    // for a count of 0 (nothing is copied then).
    const uint8_t *d = body + 18;

    if (isLocal(body)) {
        ZemRamPara *store = ZemRamPara::pInstance();
        if (a < 0x1000)
            body[10] = uint8_t(store->ZemRamParaDeal(d, uint16_t(len), a));
        else if (a <= 0x10FFF)
            body[10] = uint8_t(store->ZemModeUserRamParaDeal(d, uint16_t(len), a));
        else if (a >= 0xA1000000 && a <= 0xA10000FF && uint64_t(a) + len <= 0xA1000100ull) {
            message_deal_4g::write_4G_RAM(0, d, len);   // from the block's start, whatever the offset
            body[10] = 0;
        } else {
            body[10] = 1;   // no window takes this address
        }
        return 1;
    }

    RemotePage p;
    if (!decodeRemoteWrite(a, len, p)) {
        body[10] = 1;
        return 1;
    }
    fpga_manage *f = fpga_manage::pInstance();
    switch (p.type) {
    case 0:
        if (p.status) {
            writeStatusPage(f, p.offset, d, len);
            break;
        }
        for (uint8_t n : writeTargets(body)) {
            f->with_pages([&](card_pages &c) {
                std::memcpy(c.MCU_RAM_PARA_func[n] + p.offset, d, len);
                for (uint32_t i = 0; i < len; ++i) {
                    int b = writeMirror(p.offset + i);
                    if (b >= 0)
                        c.MCU_RAM_ETH_BACK_PARA_func[n][b] = d[i];
                }
            });
            f->write_fpga_ram(d, a, len, 1, n);
        }
        break;
    case 1:
        if (p.bank == 0)
            break;
        for (uint8_t n : writeTargets(body))
            stageAndWrite(f, [&](card_pages &c) { return (p.bank & 1) ? c.MCU_RAM_RX_func[n] : c.MCU_RAM_TX_func[n]; },
                          d, a, len, uint8_t(p.bank + 1), n);
        break;
    case 2:
        for (uint8_t n : writeTargets(body))
            stageAndWrite(f, [&](card_pages &c) { return p.bank == 0 ? c.MCU_RAM_DEFAULT : c.MCU_RAM_ZOOM; }, d, a, len,
                          uint8_t(33 + p.bank), n);
        break;
    case 4:
        for (uint8_t n : writeTargets(body))
            stageAndWrite(f, [&](card_pages &c) { return c.MCU_RAM_TX_func[n]; }, d, a, len, 50, n);
        break;
    case 5:
        f->with_pages([&](card_pages &c) { std::memcpy(c.MCU_RAM_CMD, d, len); });
        break;
    case 6:
        writeStatusPage(f, p.offset, d, len);
        break;
    default:
        break;
    }
    body[10] = 0;
    return 1;
}

uint32_t message_deal::vedio_write_single_para(uint8_t *body, uint32_t length)
{
    if (length < 14 || body[10] != 0x31) {
        body[10] = 1;
        return 1;
    }
    ZemRamPara *store = ZemRamPara::pInstance();
    uint8_t *img = store->ram_para;
    bool changed = false;
    auto setWord = [&](uint32_t off, uint16_t v) {
        if (para::get16(img, off) != v) {
            para::set16(img, off, v);
            changed = true;
        }
    };
    c331_manage *chip = c331_manage::instance();
    {
        ParaLock lock;
        // Only whole entries count: one cut short by the end of the body is ignored.
        for (uint32_t i = 12; i + 3 <= length; i += 3) {
            uint8_t id = body[i];
            uint16_t v = para::get16(body, i + 1);
            switch (id) {
            case 6: if (v <= 100) setWord(para::BRIGHTNESS, v); break;
            case 10: if (v <= 3) setWord(para::COLOR_TEMP, v); break;
            case 11: if (v <= 100) setWord(para::RED_GAIN, v); break;
            case 12: if (v <= 100) setWord(para::GREEN_GAIN, v); break;
            case 13: if (v <= 100) setWord(para::BLUE_GAIN, v); break;
            case 21: case 29: case 37: case 45: case 50: case 51: {
                static const uint8_t ids[6] = {21, 29, 37, 45, 50, 51};
                uint32_t w = uint32_t(std::find(ids, ids + 6, id) - ids);
                if (v <= 5)
                    setWord(para::window(w, para::WIN_SOURCE), v);
                break;
            }
            case 54: {
                int s = v <= 7 ? int(v) : (v >= 16 && v <= 23) ? int(v) - 8 : -1;
                if (s < 0)
                    break;
                const uint8_t *slot = store->user_mode_ram[s];
                if (slot[0] != 0xAA || slot[1] != 0xAA)
                    break;
                if (std::memcmp(img + para::SLOT_IMAGE_START, slot + para::SLOT_DATA, para::SLOT_DATA_SIZE) != 0) {
                    std::memcpy(img + para::SLOT_IMAGE_START, slot + para::SLOT_DATA, para::SLOT_DATA_SIZE);
                    changed = true;
                }
                setWord(para::CURRENT_USER_MODE, uint16_t(s + 1));
                setWord(para::USER_MODE_SAVE, 0);
                changed = chip->recall_osd_menu(s) || changed;
                break;
            }
            case 60: if (v <= 1) setWord(para::LED_OFF, uint16_t(1 - v)); break;
            case 93: {
                uint8_t w = img[para::AUDIO_WINDOW];
                if (w < para::WINDOW_COUNT)
                    setWord(para::window(w, para::WIN_AUDIO), v ? 0x8064 : 0x0000);
                break;
            }
            default: break;
            }
        }
        if (changed)
            raise_apply_request_locked(1);
    }
    body[10] = 0;
    body[11] = 0x31;
    return 2;
}

void message_deal::FPGA_Ex_ram_update()
{
    fpga_manage::pInstance()->with_pages([](card_pages &c) {
        c.MCU_RAM_EXTEND[72] = 1;
        c.MCU_RAM_EXTEND[49] = 0x9F;
        c.MCU_RAM_EXTEND[28] = c.MCU_REG_func[0][64];
        c.MCU_RAM_EXTEND[73] = 0;
        c.MCU_RAM_EXTEND[74] = 0;
    });
}

void message_deal::Time_to_RAM()
{
    QStringList f = QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd/hh/mm/ss/ddd")).split('/');
    int year = f.value(0).toInt();
    // The FPGA thread rewrites the record when the clock changes: work on a copy.
    uint8_t record[clock_record_run::RECORD_SIZE];
    {
        std::lock_guard<std::mutex> lock(clock_record_run::record_mutex);
        std::memcpy(record, g_clock_record, sizeof record);
    }
    uint8_t e[100] = {};   // status-page bytes 0..99; 16..23 and 76..99 are filled
    e[16] = bcd(year % 100);
    e[17] = bcd(year / 100);
    for (int i = 1; i <= 5; ++i)
        e[17 + i] = bcd(f.value(i).toInt());
    e[23] = 0;
    para::set32(e, 76, clock_record_word(record, 12) + clock_record_word(record, 13));
    para::set32(e, 80, clock_record_word(record, 11));
    uint32_t seq = clock_record_word(record, 5);
    e[84] = uint8_t(seq);
    e[85] = uint8_t(seq >> 8);
    e[86] = uint8_t(seq >> 16);
    e[87] = 0;
    std::memcpy(e + 88, record + 7, 7);
    e[95] = 0xFF;
    para::set32(e, 96, clock_record_word(record, 12));
    fpga_manage::pInstance()->with_pages([&e](card_pages &c) {
        std::memcpy(c.MCU_RAM_EXTEND + 16, e + 16, 8);
        std::memcpy(c.MCU_RAM_EXTEND + 76, e + 76, 24);
    });
}

uint32_t message_deal::read_ram(uint8_t *body, uint32_t length)
{
    if (length < 16) {
        body[10] = 1;
        return 1;
    }
    uint32_t a = para::get32(body, 10);
    uint32_t len = para::get16(body, 14);
    if (11 + len + 1 > m_reply_max) {
        body[10] = 1;   // longer than this link can carry back
        return 2;
    }
    return isLocal(body) ? read_local(body, a, len) : read_remote(body, a, len);
}

uint32_t message_deal::read_local(uint8_t *body, uint32_t address, uint32_t len)
{
    if (len == 0) {
        body[10] = 0;
        return 1;
    }
    ZemRamPara *store = ZemRamPara::pInstance();
    uint8_t *out = body + 11;
    uint64_t first = address, last = uint64_t(address) + len - 1;
    auto covers = [&](uint64_t lo, uint64_t hi) { return first <= hi && last >= lo; };

    // A capture that fails is refused: the last picture is not the panel now.
    if (covers(0x800000, 0x800001) && screen_capture::take() == screen_capture::Result::Failed) {
        body[10] = 1;
        return 2;
    }
    uint32_t capLen = screen_capture::length();
    std::vector<uint8_t> info;
    if (covers(0xA0000000u, 0xA0000FFFu))
        info = deviceInfoBlock(m_4g, covers(0xA0000000u, 0xA0000000u));

    // The image, the slots and the status page are copied under their locks,
    // so the reply never holds half of a value another link or the chip
    // thread is writing. Lock order: the image's locks before
    // Utils::_file_deal_mutex.
    std::optional<ImageLock> imageLock;
    if (covers(0x0, 0x10FFF) || covers(0x600880, 0x600C7F))
        imageLock.emplace(store);
    std::unique_lock<std::mutex> fileLock(Utils::_file_deal_mutex, std::defer_lock);
    if (covers(0x800080, 0xA0007F)) {
        fileLock.lock();
        captureBuf_tarix[0] = 0xAA;
        captureBuf_tarix[1] = 0xAA;
    }

    // The read is walked window by window: windows backed by memory are
    // copied a run at a time, computed ones byte by byte, gaps read as 0.
    enum Kind { Image, Slots, First, Capability, PortBlock, Status, CaptureHead, CaptureData, Info, Ram4g };
    struct Window {
        uint64_t lo, hi;
        Kind kind;
    };
    static const Window windows[] = {
        {0x0, 0xFFF, Image},
        {0x1000, 0x10FFF, Slots},
        {0x600000, 0x600027, First},
        {0x600040, 0x60043F, Capability},
        {0x600440, 0x60083F, PortBlock},
        {0x600880, 0x600C7F, Status},
        {0x800000, 0x80007F, CaptureHead},
        {0x800080, 0xA0007F, CaptureData},
        {0xA0000000u, 0xA0000FFFu, Info},
        {0xA1000000u, 0xA10000FFu, Ram4g},
    };
    uint32_t i = 0;
    while (i < len) {
        const uint64_t a = first + i;
        const Window *w = nullptr;
        uint64_t gapEnd = last;   // last address of a gap starting at a
        for (const Window &c : windows) {
            if (a < c.lo) {
                gapEnd = std::min(last, c.lo - 1);
                break;
            }
            if (a <= c.hi) {
                w = &c;
                break;
            }
        }
        if (!w) {
            uint32_t n = uint32_t(gapEnd - a + 1);
            std::memset(out + i, 0, n);
            i += n;
            continue;
        }
        const uint64_t end = std::min(last, w->hi);
        const uint32_t n = uint32_t(end - a + 1);
        uint8_t *o = out + i;
        switch (w->kind) {
        case Image:
            std::memcpy(o, store->ram_para + a, n);
            break;
        case Slots:
            copySlotRecords(store, first, a, o, n);
            break;
        case First:
            for (uint32_t k = 0; k < n; ++k) {
                uint32_t off = uint32_t(a - w->lo) + k;
                o[k] = off < sizeof FIRST_BLOCK ? FIRST_BLOCK[off] : 0;
            }
            break;
        case Capability:
            for (uint32_t k = 0; k < n; ++k)
                o[k] = capabilityByte(uint32_t(a - w->lo) + k);
            break;
        case PortBlock:
            for (uint32_t k = 0; k < n; ++k)
                o[k] = portBlockByte(uint32_t(a - w->lo) + k);
            break;
        case Status:
            std::memcpy(o, store->status_ram + (a - w->lo), n);
            break;
        case CaptureHead:
            for (uint32_t k = 0; k < n; ++k) {
                uint8_t v = 0;
                switch (a - w->lo + k) {
                case 0: case 1: v = 0xAA; break;
                case 2: v = 0x40; break;
                case 3: v = 0x01; break;
                case 4: v = 0xF0; break;
                case 6: v = 24; break;
                case 12: case 13: case 14: case 15: v = uint8_t(capLen >> (8 * (a - w->lo + k - 12))); break;
                default: v = 0; break;
                }
                o[k] = v;
            }
            break;
        case CaptureData:
            std::memcpy(o, captureBuf_tarix + (a - w->lo), n);
            break;
        case Info:
            std::memcpy(o, info.data() + (a - w->lo), n);
            break;
        case Ram4g: {
            // This window is indexed by the position in the read, not the address.
            message_deal_4g::copy_4G_RAM(o, i, n);
            break;
        }
        }
        i += n;
    }
    body[10] = 0;
    return len + 1;
}

uint32_t message_deal::read_remote(uint8_t *body, uint32_t address, uint32_t len)
{
    RemotePage p;
    if (!decodeRemote(address, len, p)) {
        body[10] = 1;
        return 2;
    }
    fpga_manage *f = fpga_manage::pInstance();
    uint8_t n = readTarget(body);
    uint8_t *out = body + 11;
    bool running = f->reg_shadow(n, 80) == 3;
    body[10] = 0;

    // The FPGA is read at the page offset the reply stands for, into the
    // reply; the staging buffer `pick` chooses keeps a copy (under the owner
    // lock, the SPI transfer outside it).
    const uint32_t at = address & 0xFFF;
    auto fromFpga = [&](auto pick, uint8_t bank) {
        if (!running) {
            std::memset(out, 0, len);
            return;
        }
        f->read_fpga_ram(out, at, len, bank, n);
        f->with_pages([&](card_pages &c) { std::memcpy(pick(c), out, len); });
    };
    auto fromStatusPage = [&]() {
        FPGA_Ex_ram_update();
        Time_to_RAM();
        f->with_pages([&](card_pages &c) { std::memcpy(out, c.MCU_RAM_EXTEND + p.offset, len); });
    };

    switch (p.type) {
    case 0:
        if (p.status) {
            fromStatusPage();
            break;
        }
        if (!running) {
            std::memset(out, 0, len);
            break;
        }
        f->read_fpga_ram(out, at, len, 1, n);
        {
            const bool halved = c331_manage::instance()->published_use1och() == 1;
            f->with_pages([&](card_pages &c) {
                uint8_t *shadow = c.MCU_RAM_PARA_func[n];
                std::memcpy(shadow + p.offset, out, len);
                for (uint32_t k = p.offset; k < p.offset + len; ++k) {
                    int b = readOverlay(k);
                    if (b >= 0)
                        shadow[k] = c.MCU_RAM_ETH_BACK_PARA_func[n][b];
                }
                std::memcpy(out, shadow + p.offset, len);
                if (!halved)
                    return;
                for (uint32_t k = p.offset; k < p.offset + len; ++k) {
                    if (k == 116)
                        out[k - p.offset] = uint8_t(para::get16(shadow, 116) >> 1);
                    else if (k == 117)
                        out[k - p.offset] = uint8_t(shadow[117] >> 1);
                }
            });
        }
        break;
    case 1:
        if (p.bank != 0)
            fromFpga([&](card_pages &c) { return (p.bank & 1) ? c.MCU_RAM_RX_func[n] : c.MCU_RAM_TX_func[n]; },
                     uint8_t(p.bank + 1));
        break;
    case 2:
        fromFpga([&](card_pages &c) { return p.bank == 0 ? c.MCU_RAM_DEFAULT : c.MCU_RAM_ZOOM; }, uint8_t(33 + p.bank));
        break;
    case 4:
        fromFpga([&](card_pages &c) { return c.MCU_RAM_TX_func[n]; }, 50);
        break;
    case 5:
        f->with_pages([&](card_pages &c) { std::memcpy(out, c.MCU_RAM_CMD, len); });
        break;
    case 6:
        fromStatusPage();
        break;
    default:
        break;
    }
    return len + 1;
}
