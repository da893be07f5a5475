// Commands 0xC5..0xCC: the small files of the cloud link (device barcode,
// CA certificate, cloud settings) moved between the PC tool and the
// controller; 0x8E and 0x8F: the 4G module's information and the cloud path.

#include "protocol/message_deal.h"

#include "app/config_engine.h"
#include "app/global.h"
#include "app/para_layout.h"
#include "app/utils.h"
#include "cloud/message_deal_4g.h"
#include "cloud/networkclient_manage.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/timing.h"
#include "protocol/zem_file_deal.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Result codes of reply byte 11.
enum : uint8_t {
    YP_DONE = 200,
    YP_REFUSED = 64,
    YP_EXISTS = 65,
    YP_TOO_BIG = 66,
    YP_WRONG_ID = 74,
    YP_WRONG_OFFSET = 75,
    YP_TOO_MUCH = 76,
    YP_READ_TOTAL = 77,
    YP_NO_FILE = 78,
    YP_NOT_STORED = 79,   // the file could not be written
    YP_END_WRONG_ID = 44,
};

const char *const kCaFile = "/data/configs/cloud_cafile";
const char *const kSetinfoFile = "/data/configs/cloud_setinfo";
const char *const kBarcodeFile = "/data/configs/cloud_barcode";

constexpr uint32_t CA_HEADER = 7;
constexpr uint32_t SETINFO_HEADER = 3;
constexpr uint32_t PIECE_MAX = 768;

struct FileKind {
    uint8_t kind;
    uint16_t id;
    uint32_t limit;   // size an unconfirmed announce is measured against
};

const FileKind KINDS[] = {{1, 100, 4096}, {2, 101, 32768}, {4, 102, 4096}};

const FileKind *kindOf(const uint8_t *name)
{
    if (name[0] != 'F' || name[1] != '0' || name[2] != '0')
        return nullptr;
    for (const FileKind &k : KINDS)
        if (name[3] == '0' + k.kind)
            return &k;
    return nullptr;
}

struct YpRecord {
    uint8_t kind = 0;
    uint16_t id = 0;
    uint32_t count = 0;   // bytes transferred
    uint32_t size = 0;    // file size
};

// One cloud-file transfer at a time for the whole program. An upload belongs
// to the link and origin that announced it: pieces, an end and a cancel from
// any other sender are refused as of another file (wrong id), so that one
// link's bytes are never stored under another's announce. An announce that
// goes ahead takes the upload over from anywhere; until the upload is stored
// or cancelled, a refused or unconfirmed announce from another sender leaves
// it alone. The pieces are collected behind the file's
// header in a buffer of their own, as large as the announced file and at
// most as large as the file transfer's (5 MB), so a cloud transfer never
// disturbs the file transfer's or the capture's buffer.
std::mutex g_yp_mutex;
YpRecord g_yp_s_file;
file_transfer::Owner g_yp_s_owner;   // who announced the send record's file
bool g_yp_s_going = false;           // its upload is announced and neither stored nor cancelled
YpRecord g_yp_r_file;
std::vector<uint8_t> g_yp_buf;

uint32_t headerOf(uint8_t kind) { return kind == 2 ? CA_HEADER : SETINFO_HEADER; }

// Whether a file of this kind and size can be collected and stored: header
// and data within the buffer, and a settings file's length within its
// 16-bit length field. The barcode kind collects nothing.
bool fits(uint8_t kind, uint32_t size)
{
    if (kind == 1)
        return true;
    if (uint64_t(headerOf(kind)) + size > FILEBUF_TARIX_SIZE)
        return false;
    return kind != 4 || size + 2 <= 0xFFFF;
}

uint32_t reply(uint8_t *body, uint8_t code, uint16_t id, uint32_t length = 5)
{
    const uint8_t status = code == YP_DONE ? 0 : 1;
    body[10] = status;
    body[11] = code;
    body[12] = status;
    para::set16(body, 13, id);
    return length;
}

// Stores a collected file atomically under the file lock.
bool storeFile(const char *file, const uint8_t *data, uint32_t len)
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    platform::ensureDir("/data/configs");
    return platform::files::writeAtomic(file, data, len);
}

// A stored cloud file and its recorded size; false when it is absent.
bool readStored(uint8_t kind, std::string &data, uint32_t &size)
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    using platform::files::Kind;
    if (!platform::files::readAll(kind == 2 ? kCaFile : kSetinfoFile,
                                  kind == 2 ? Kind::CloudCertificate : Kind::CloudSettings, data))
        return false;
    const uint8_t *p = reinterpret_cast<const uint8_t *>(data.data());
    if (kind == 2)
        size = data.size() >= CA_HEADER ? para::get32(p, 3) : 0;
    else
        size = data.size() >= SETINFO_HEADER ? para::get16(p, 1) : 0;
    return true;
}

QByteArray barcodeBytes()
{
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    return g_str_barcode.toUtf8();
}

} // namespace

uint32_t message_deal::YP_SendFile(uint8_t *body)
{
    std::lock_guard<std::mutex> lock(g_yp_mutex);
    const FileKind *k = m_body_len >= 19 ? kindOf(body + 10) : nullptr;
    const uint32_t size = k ? para::get32(body, 14) : 0;
    const bool confirmed = k && body[18] == 1;
    // A file that cannot be collected leaves no record that pieces could be
    // written against, whatever the announce is answered.
    const bool fit = k && fits(k->kind, size);
    // An announce that goes ahead takes the upload over, and any announce
    // ends the sender's own; one that is refused, or only asks (no confirm
    // flag), leaves another sender's upload going.
    if ((confirmed && fit) || file_transfer::takesFrom(g_yp_s_owner, sender()) || !g_yp_s_going) {
        std::vector<uint8_t>().swap(g_yp_buf);
        g_yp_s_file = YpRecord();
        g_yp_s_owner = sender();
        g_yp_s_going = false;
        if (fit) {
            g_yp_s_file.kind = k->kind;
            g_yp_s_file.id = k->id;
            g_yp_s_file.size = size;
            if (k->kind != 1)
                g_yp_buf.assign(headerOf(k->kind) + size, 0);
            g_yp_s_going = true;
        }
    }
    if (!k)
        return reply(body, YP_REFUSED, 0);
    if (!confirmed) {
        const bool exists = (k->kind == 2 && platform::files::exists(kCaFile)) ||
                            (k->kind == 4 && platform::files::exists(kSetinfoFile));
        return reply(body, exists ? YP_EXISTS : size > k->limit ? YP_TOO_BIG : YP_REFUSED, k->id);
    }
    if (!fit)
        return reply(body, YP_TOO_BIG, k->id);
    if (k->kind == 1) {
        ConfigEngine *config = ConfigEngine::pInstance();
        config->write_config_variant(ConfigItem::Barcode, QStringLiteral(" "));
        platform::files::sync();
        platform::pauseMs(100);
        const QString stored = config->read_config_variant(ConfigItem::Barcode).toString();
        std::lock_guard<std::mutex> textLock(g_config_text_mutex);
        g_str_barcode = stored;
    }
    return reply(body, YP_DONE, k->id);
}

uint32_t message_deal::YP_SendFileData(uint8_t *body)
{
    std::lock_guard<std::mutex> lock(g_yp_mutex);
    if (m_body_len < 18)
        return reply(body, YP_WRONG_ID, 0);
    const uint16_t id = para::get16(body, 10);
    const uint32_t offset = para::get32(body, 12);
    const uint32_t d = para::get16(body, 16);
    YpRecord &r = g_yp_s_file;
    if (!file_transfer::takesFrom(g_yp_s_owner, sender()))
        return reply(body, YP_WRONG_ID, id);
    // The data must be in the frame and within the announced size.
    if (18 + d > m_body_len || uint64_t(r.count) + d > r.size)
        return reply(body, YP_TOO_MUCH, id);
    if (offset != r.count)
        return reply(body, YP_WRONG_OFFSET, id);
    if (id != r.id)
        return reply(body, YP_WRONG_ID, id);
    if (r.kind == 2 || r.kind == 4) {
        std::memcpy(g_yp_buf.data() + headerOf(r.kind) + offset, body + 18, d);
        r.count += d;
    }
    return reply(body, YP_DONE, id);
}

uint32_t message_deal::YP_SendFileEND(uint8_t *body)
{
    std::unique_lock<std::mutex> lock(g_yp_mutex);
    if (m_body_len < 16)
        return reply(body, YP_WRONG_ID, 0);
    const uint16_t id = para::get16(body, 10);
    const uint32_t total = para::get32(body, 12);
    const YpRecord r = g_yp_s_file;
    if (!file_transfer::takesFrom(g_yp_s_owner, sender()))
        return reply(body, YP_WRONG_ID, id);
    if (total != r.size)
        return reply(body, YP_TOO_MUCH, id);
    if (id != r.id)
        return reply(body, YP_WRONG_ID, id);

    if (r.kind == 2) {
        uint8_t *buf = g_yp_buf.data();
        buf[0] = 0xAA;
        para::set16(buf, 1, r.id);
        para::set32(buf, 3, r.size);
        if (!storeFile(kCaFile, buf, r.count + CA_HEADER))
            return reply(body, YP_NOT_STORED, id);
        platform::files::sync();
        platform::pauseMs(100);
    } else if (r.kind == 4) {
        uint8_t *buf = g_yp_buf.data();
        buf[0] = 0xAA;
        para::set16(buf, 1, uint16_t(r.size + 2));
        if (!storeFile(kSetinfoFile, buf, r.count + SETINFO_HEADER))
            return reply(body, YP_NOT_STORED, id);
        g_yp_s_going = false;
        lock.unlock();
        platform::files::remove(kBarcodeFile);
        platform::files::sync();
        platform::pauseMs(100);
        const uint8_t inactive = 0;
        message_deal_4g::write_4G_RAM(56, &inactive, 1);
        m_4g->get_4G_property();
        {
            std::lock_guard<std::mutex> reconfig(Utils::_reconfig_4g_mutex);
            g_reconfig_4g = 1;
        }
        std::lock_guard<std::mutex> reconnect(Utils::_reconfig_device_kumocloud_mutex);
        if (!g_rconfig_device_kumocloud)
            g_rconfig_device_kumocloud = 1;
        return reply(body, YP_DONE, id);
    }
    g_yp_s_going = false;
    return reply(body, YP_DONE, id);
}

uint32_t message_deal::YP_SendFileCancel(uint8_t *body)
{
    std::lock_guard<std::mutex> lock(g_yp_mutex);
    const uint16_t id = m_body_len >= 12 ? para::get16(body, 10) : 0;
    if (m_body_len < 12 || id != g_yp_s_file.id || !file_transfer::takesFrom(g_yp_s_owner, sender()))
        return reply(body, YP_WRONG_ID, id);
    g_yp_s_file = YpRecord();
    g_yp_s_going = false;
    return reply(body, YP_DONE, id);
}

uint32_t message_deal::YP_RecvFile(uint8_t *body)
{
    std::lock_guard<std::mutex> lock(g_yp_mutex);
    const FileKind *k = m_body_len >= 14 ? kindOf(body + 10) : nullptr;
    para::set32(body, 15, 0);
    if (!k) {
        g_yp_r_file = YpRecord();
        return reply(body, YP_NO_FILE, 0, 9);
    }
    uint32_t size = 0;
    if (k->kind == 1) {
        // The barcode has no file: its size is that of its text.
        size = uint32_t(barcodeBytes().size());
    } else {
        std::string data;
        if (!readStored(k->kind, data, size)) {
            platform::files::sync();
            platform::pauseMs(100);
            return reply(body, YP_NO_FILE, k->id, 9);
        }
    }
    g_yp_r_file.kind = k->kind;
    g_yp_r_file.id = k->id;
    g_yp_r_file.count = 0;
    g_yp_r_file.size = size;
    para::set32(body, 15, size);
    return reply(body, YP_DONE, k->id, 9);
}

uint32_t message_deal::YP_RecvFileData(uint8_t *body)
{
    std::lock_guard<std::mutex> lock(g_yp_mutex);
    YpRecord &r = g_yp_r_file;
    const uint16_t id = m_body_len >= 16 ? para::get16(body, 10) : 0;
    const uint32_t offset = m_body_len >= 16 ? para::get32(body, 12) : 0;
    auto answer = [&](uint8_t code, uint32_t n) {
        para::set32(body, 15, r.count);
        para::set16(body, 19, uint16_t(n));
        body[21 + n] = 0;
        return reply(body, code, id, 12 + n);
    };
    if (m_body_len < 16)
        return answer(YP_WRONG_ID, 0);
    if (offset != r.count)
        return answer(YP_WRONG_OFFSET, 0);
    if (id != r.id)
        return answer(YP_WRONG_ID, 0);

    // What this link can carry back: the 12 reply bytes, the data, the XOR.
    const uint32_t room = m_reply_max > 23 ? m_reply_max - 23 : 0;
    const uint32_t want = std::min(std::min(r.size - r.count, PIECE_MAX), room);
    uint32_t n = 0;
    if (r.kind == 1) {
        const QByteArray text = barcodeBytes();
        if (uint64_t(r.count) + want <= uint64_t(text.size())) {
            std::memcpy(body + 21, text.constData() + r.count, want);
            n = want;
        }
    } else if (r.kind == 2 || r.kind == 4) {
        std::string data;
        uint32_t size = 0;
        // The CA file is read from its data; the settings file from its
        // length field, so that the announced S + 2 bytes are what comes.
        const uint32_t header = r.kind == 2 ? CA_HEADER : 1;
        if (readStored(r.kind, data, size)) {
            // Only the bytes the file really holds are sent.
            const uint64_t from = uint64_t(r.count) + header;
            if (from < data.size())
                n = uint32_t(std::min<uint64_t>(want, data.size() - from));
            std::memcpy(body + 21, data.data() + from, n);
        } else {
            platform::files::sync();
            platform::pauseMs(100);
        }
    }
    r.count += n;
    return answer(YP_DONE, n);
}

uint32_t message_deal::YP_RecvFileEnd(uint8_t *body)
{
    std::lock_guard<std::mutex> lock(g_yp_mutex);
    const uint16_t id = m_body_len >= 16 ? para::get16(body, 10) : 0;
    const uint32_t total = m_body_len >= 16 ? para::get32(body, 12) : ~0u;
    body[15] = 0;
    if (m_body_len < 16)
        return reply(body, YP_READ_TOTAL, id, 6);
    if (id == g_yp_r_file.id)
        return reply(body, total == g_yp_r_file.size ? YP_DONE : YP_READ_TOTAL, id, 6);
    reply(body, total == g_yp_r_file.size ? YP_END_WRONG_ID : YP_READ_TOTAL, id, 6);
    body[10] = body[12] = 1;
    return 6;
}

uint32_t message_deal::YP_RecvFileCancel(uint8_t *body)
{
    std::lock_guard<std::mutex> lock(g_yp_mutex);
    const uint16_t id = m_body_len >= 12 ? para::get16(body, 10) : 0;
    body[15] = 0;
    if (m_body_len < 12 || id != g_yp_r_file.id)
        return reply(body, YP_WRONG_ID, id, 6);
    g_yp_r_file = YpRecord();
    return reply(body, YP_DONE, id, 6);
}

uint32_t message_deal::get_yp_module_info(uint8_t *body)
{
    if (m_body_len < 11 || body[10] != 1) {
        body[10] = 1;
        return 1;
    }
    body[10] = 0;
    body[11] = 1;
    message_deal_4g::copy_4G_RAM(body + 12, 0, 56);
    body[68] = 0;
    body[69] = 0;
    return 60;
}

uint32_t message_deal::check_yp_module(uint8_t *body)
{
    uint8_t block[57];
    message_deal_4g::copy_4G_RAM(block, 0, sizeof block);
    if (block[0] == 0xAA && block[56] != 0) {
        body[10] = 0;
        body[11] = 1;
        body[12] = block[56];
        return 3;
    }
    // Otherwise the cloud client's own connection, when the client exists.
    const networkclient_Manage *client = networkclient_Manage::p_networkclient_Manage;
    if (client && client->link_up) {
        body[10] = 0;
        body[11] = 2;
        body[12] = 1;
        return 3;
    }
    body[10] = 1;
    body[11] = 2;
    body[12] = 0;
    return 3;
}
