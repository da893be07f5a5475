// Command 0xC0: whole files between the PC tool and the controller. A write
// transfer is a start, any number of blocks gathered in fileBuf_tarix and an
// end that carries the MD5 digest of the file; nothing is stored unless the
// digest matches. A read transfer opens one of the same files and hands it
// out in blocks, with the digest of what it sent at the end.
//
// One write and one read transfer exist at a time for the whole program.
// Each belongs to the link that started it (a TCP connection, a UDP peer, a
// serial line): its blocks and end are taken from there only, so that no
// link's bytes are ever stored under a type another link started, and no
// link reads another's file or digest. A start from anywhere takes the
// transfer over; the link that had it then gets its blocks and end refused,
// and a PC tool that lost its connection can start afresh on a new one at
// once. All their state is guarded by g_zem_file_deal_mutex; the buffer and
// the files are touched under Utils::_file_deal_mutex as well (taken
// second), which the screen capture and the parameter store share.

#include "protocol/message_deal.h"

#include "app/global.h"
#include "app/para_layout.h"
#include "app/utils.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/mtd.h"
#include "platform/platform.h"
#include "protocol/md5.h"
#include "protocol/zem_file_deal.h"
#include "sendcard/fpga_manage.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

using namespace file_transfer;

namespace {

const char *const APP_DIR = "/data/app";
const char *const APP_PATH = "/data/app/zemR47N2";
const char *const ALIAS_PATH = "/data/configs/alias.json";
const char *const OSD_PATH = "/data/configs/omenu.json";
const char *const RECOVERY_DIR = "/data/rcvrecovery/";
const char *const MAPPING_DIR = "/data/smartmapping/";

// Guarded by g_zem_file_deal_mutex.
MD5 md5;                                  // digest of the write transfer's blocks
MD5 md5_read;                             // digest of the bytes the read blocks sent
std::FILE *file_tarix = nullptr;          // the read transfer's open file
Owner file_tarix_owner;                   // who opened it; {0, 0} while none is open

uint32_t reply2(uint8_t *body, uint8_t status, uint8_t sub)
{
    body[10] = status;
    body[11] = sub;
    return 2;
}

uint32_t reply3(uint8_t *body, uint8_t status, uint8_t sub, uint8_t detail)
{
    reply2(body, status, sub);
    body[12] = detail;
    return 3;
}

// Read start reply: 00, echo, opened flag, file size.
uint32_t openReply(uint8_t *body, uint8_t sub, bool opened, uint32_t size)
{
    reply3(body, 0, sub, opened ? 1 : 0);
    para::set32(body, 13, opened ? size : 0);
    return 7;
}

bool tagIs(const uint8_t *tag, const char *text, size_t n = 4)
{
    return std::memcmp(tag, text, n) == 0;
}

int hexValue(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// User mode of an "MO" tag's two hexadecimal digits: 1 to 16, or -1.
int modeNumber(const uint8_t *digits)
{
    int hi = hexValue(digits[0]), lo = hexValue(digits[1]);
    if (hi < 0 || lo < 0)
        return -1;
    int n = hi * 16 + lo;
    return n >= 1 && n <= 16 ? n : -1;
}

std::string modePath(int n)
{
    char name[32];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", n);
    return name;
}

bool storesBlocks(uint8_t type)
{
    switch (type) {
    case TYPE_APP: case TYPE_KERNEL: case TYPE_LOGO: case TYPE_ALIAS:
    case TYPE_USER_OSD: case TYPE_OSD: case TYPE_RECOVERY: case TYPE_MAPPING:
        return true;
    default:
        return false;
    }
}

enum class Stored { Ok, Mismatch, Failed };

// File write: the new content is written beside the destination, made
// durable with one fsync and renamed over the old file, and one fsync of the
// folder makes the rename durable; a failure of any step leaves the previous
// file in place. The write reports every error itself: reading the file back
// through the page cache would only compare memory with memory.
Stored storeFile(const std::string &path, const uint8_t *data, uint32_t len)
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    return platform::files::writeAtomic(path, data, len) ? Stored::Ok : Stored::Failed;
}

// Erases and writes the first `len` buffer bytes into a flash partition and
// reads them back: on flash the read-back verifies the programming.
Stored storePartition(const char *device, const uint8_t *data, uint32_t len)
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    int fd = platform::mtd::open(device);
    g_zem_file_deal_para.fd = fd;
    if (fd < 0)
        return Stored::Failed;
    Stored result = Stored::Ok;
    if (Utils::non_region_erase(fd, 0, len, 1) != 0 || Utils::non_region_write(fd, data, len, 0) != 0) {
        result = Stored::Failed;
    } else {
        std::vector<uint8_t> piece(0x10000);
        for (uint32_t off = 0; off < len && result == Stored::Ok; off += uint32_t(piece.size())) {
            uint32_t n = std::min<uint32_t>(uint32_t(piece.size()), len - off);
            if (platform::mtd::pread(fd, piece.data(), n, off) != ssize_t(n))
                result = Stored::Failed;
            else if (std::memcmp(piece.data(), data + off, n) != 0)
                result = Stored::Mismatch;
        }
    }
    platform::mtd::close(fd);
    g_zem_file_deal_para.fd = -1;
    return result;
}

// The starts refuse a length past the type's room, so the record's length
// always fits the buffer (a logo's, rounded up to 4, too).
Stored storeTransfer(ZemFileDeal &rec)
{
    switch (rec.type) {
    case TYPE_APP:
        platform::ensureDir(APP_DIR);
        return storeFile(APP_PATH, fileBuf_tarix, rec.total_len);
    case TYPE_KERNEL:
        return storePartition(platform::devices::MTD_KERNEL, fileBuf_tarix, KERNEL_PARTITION_SIZE);
    case TYPE_LOGO:
        rec.total_len = (rec.total_len + 3) & ~3u;
        {
            std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
            build_logo_header(fileBuf_tarix, rec.total_len);
        }
        return storePartition(platform::devices::MTD_LOGO, fileBuf_tarix, LOGO_PARTITION_SIZE);
    case TYPE_ALIAS:
        return storeFile(ALIAS_PATH, fileBuf_tarix, rec.total_len);
    case TYPE_OSD:
        return storeFile(OSD_PATH, fileBuf_tarix, rec.total_len);
    case TYPE_USER_OSD: case TYPE_RECOVERY: case TYPE_MAPPING:
        if (rec.path.empty())
            return Stored::Failed;
        return storeFile(rec.path, fileBuf_tarix, rec.total_len);
    default:
        return Stored::Ok;   // boot loader uploads and "no transfer" store nothing
    }
}

void closeReadFile()
{
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    if (file_tarix) {
        std::fclose(file_tarix);
        file_tarix = nullptr;
    }
    file_tarix_owner = Owner();
}

// Opens a file for `by`'s read transfer (replacing any open one, whoever
// opened it) and answers with its size; a missing file answers "not opened".
uint32_t openReadFile(uint8_t *body, uint8_t sub, const std::string &path, const Owner &by)
{
    closeReadFile();
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    md5_read.reset();
    uint64_t size = 0;
    std::FILE *f = platform::files::openRegular(path, &size);
    if (f && size > 0xFFFFFFFFull) {
        std::fclose(f);
        f = nullptr;
    }
    if (!f)
        return openReply(body, sub, false, 0);
    file_tarix = f;
    file_tarix_owner = by;
    return openReply(body, sub, true, uint32_t(size));
}

// A refused start (typed or named) ends the sender's own write transfer: an
// end that follows stores nothing under any type and answers "not stored",
// so that neither the previous file nor the buffer's old bytes land
// anywhere. Another link's transfer goes on.
uint32_t refuseStart(uint8_t *body, uint8_t sub, const Owner &sender)
{
    ZemFileDeal &rec = g_zem_file_deal_para;
    if (takesFrom(rec.owner, sender)) {
        rec.owner = sender;
        rec.refused = true;
        md5.reset();
    }
    return reply3(body, 1, sub, 2);
}

// The name of sub-commands 7 and 8: the bytes up to the first NUL.
std::string nameField(const uint8_t *p, uint32_t n)
{
    const void *nul = std::memchr(p, 0, n);
    size_t len = nul ? size_t(static_cast<const uint8_t *>(nul) - p) : n;
    return std::string(reinterpret_cast<const char *>(p), len);
}

} // namespace

uint32_t message_deal::write_file_group(uint8_t *body, uint32_t length)
{
    switch (body[10]) {
    case 1: return write_file_start(body, length);
    case 2: return write_file_block(body, length);
    case 3: return write_file_end(body, length);
    case 4: return read_file_start(body, length);
    case 5: return read_file_block(body, length);
    case 6: return read_file_end(body, length);
    case 7: return write_defined_file_start(body, length);
    case 8: return read_defined_file_start(body, length);
    case 9: return read_dir_file_para(body, length);
    case 10: return delete_file_name(body);
    default: return 0;
    }
}

// Sub-command 1: 13-16 tag, 17 subtype, 18-21 total length.
uint32_t message_deal::write_file_start(uint8_t *body, uint32_t length)
{
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    if (length < 22)
        return refuseStart(body, 1, sender());
    const uint8_t *tag = body + 13;
    const uint8_t subtype = body[17];
    const uint32_t total = para::get32(body, 18);
    ZemFileDeal &rec = g_zem_file_deal_para;

    uint8_t type = TYPE_NONE;   // stays so for a refused start
    uint32_t clear = 0;
    std::string path;
    bool upgrade = false;
    if (tagIs(tag, "FMCU")) {
        type = TYPE_APP, clear = FILEBUF_TARIX_SIZE, upgrade = true;
    } else if (tagIs(tag, "FBOT")) {
        // Boot loader images are taken but stored nowhere; the start has no reply.
        rec.type = TYPE_BOOT;
        rec.path.clear();
        rec.refused = false;
        rec.owner = sender();
        md5.reset();
        return 0;
    } else if (tagIs(tag, "FKRN")) {
        type = TYPE_KERNEL, clear = FILEBUF_TARIX_SIZE, upgrade = true;
    } else if (tagIs(tag, "LOGO")) {
        type = TYPE_LOGO, clear = LOGO_PARTITION_SIZE;
    } else if (tagIs(tag, "ALIS")) {
        type = TYPE_ALIAS, clear = 0x60000;
    } else if (tagIs(tag, "OSDS")) {
        type = TYPE_OSD, clear = 0x400000;
    } else if (tagIs(tag, "MO", 2)) {
        const int mode = modeNumber(tag + 2);
        if (mode > 0)
            type = TYPE_USER_OSD, clear = 0x400000, path = modePath(mode);
    } else if (tagIs(tag, "QyFX") && subtype == TYPE_RECOVERY) {
        type = TYPE_RECOVERY, path = std::string(RECOVERY_DIR) + "QyFX";
    } else if (tagIs(tag, "QyFR") && subtype == TYPE_MAPPING) {
        type = TYPE_MAPPING, path = std::string(MAPPING_DIR) + "QyFR";
    }
    if (type == TYPE_NONE || total > capacity(type))
        return refuseStart(body, 1, sender());

    rec.type = type;
    rec.path = path;
    rec.total_len = total;
    rec.refused = false;
    rec.owner = sender();
    md5.reset();
    if (clear) {
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        std::memset(fileBuf_tarix, 0, clear);
    }
    if (upgrade)
        panel_step(PanelStep::UpgradeStart);
    return reply3(body, 0, 1, 0);
}

// Sub-command 7: 13-14 name length S, 15.. name, 15+S type, 16+S.. total length.
uint32_t message_deal::write_defined_file_start(uint8_t *body, uint32_t length)
{
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    if (length < 15)
        return refuseStart(body, 7, sender());
    const uint32_t s = para::get16(body, 13);
    if (uint64_t(15) + s + 5 > length)
        return refuseStart(body, 7, sender());
    const std::string name = nameField(body + 15, s);
    const uint8_t type = body[15 + s];
    const uint32_t total = para::get32(body, 16 + s);
    if ((type != TYPE_RECOVERY && type != TYPE_MAPPING) || !is_plain_name(name.data(), name.size())
        || total > capacity(type))
        return refuseStart(body, 7, sender());

    ZemFileDeal &rec = g_zem_file_deal_para;
    rec.type = type;
    rec.path = (type == TYPE_RECOVERY ? RECOVERY_DIR : MAPPING_DIR) + name;
    rec.total_len = total;
    rec.refused = false;
    rec.owner = sender();
    md5.reset();
    return reply3(body, 0, 7, 0);
}

// Sub-command 2: 15-18 offset, 19-22 length B, 23.. data.
uint32_t message_deal::write_file_block(uint8_t *body, uint32_t length)
{
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    if (length < 23 || !takesFrom(g_zem_file_deal_para.owner, sender()))
        return reply2(body, 1, 2);   // short, or another link's transfer
    const uint32_t offset = para::get32(body, 15);
    const uint32_t count = para::get32(body, 19);
    const uint8_t type = g_zem_file_deal_para.type;
    if (uint64_t(23) + count > length)
        return reply2(body, 1, 2);                        // runs past the frame
    if (uint64_t(offset) + count > capacity(type))
        return reply2(body, 1, 2);                        // runs past the type's room
    if (storesBlocks(type)) {
        const uint32_t base = type == TYPE_LOGO ? LOGO_HEADER_SIZE : 0;
        std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
        std::memcpy(fileBuf_tarix + base + offset, body + 23, count);
    }
    md5.update(body + 23, count);
    return reply2(body, 0, 2);
}

// Sub-command 3: 15-30 the digest of the whole file.
uint32_t message_deal::write_file_end(uint8_t *body, uint32_t length)
{
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    ZemFileDeal &rec = g_zem_file_deal_para;
    if (!takesFrom(rec.owner, sender()))
        return reply3(body, 0, 3, 1);   // another link's transfer: not stored
    if (rec.type == TYPE_NONE && takesFrom(file_tarix_owner, sender()))
        closeReadFile();   // only the sender's own read
    const bool match = length >= 31 && std::memcmp(md5.digest(), body + 15, 16) == 0;
    if (!match || rec.refused)
        return reply3(body, 0, 3, 1);

    const Stored stored = storeTransfer(rec);
    const uint32_t n = reply3(body, stored == Stored::Failed ? 1 : 0, 3, stored == Stored::Ok ? 0 : 1);
    if (rec.type == TYPE_ALIAS && stored == Stored::Ok)
        panel_step(PanelStep::AliasArrived);
    if (rec.type == TYPE_RECOVERY && fpga_manage::p_fpga_manage)
        panel_step(PanelStep::RecoveryFiles);
    if (rec.type == TYPE_MAPPING && fpga_manage::p_fpga_manage)
        panel_step(PanelStep::MappingFiles);
    return n;
}

// Sub-command 4: 13-16 tag.
uint32_t message_deal::read_file_start(uint8_t *body, uint32_t length)
{
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    if (length < 17)
        return openReply(body, 4, false, 0);
    const uint8_t *tag = body + 13;
    if (tagIs(tag, "ALIS"))
        return openReadFile(body, 4, ALIAS_PATH, sender());
    if (tagIs(tag, "OSDS"))
        return openReadFile(body, 4, OSD_PATH, sender());
    if (tagIs(tag, "MO", 2)) {
        int mode = modeNumber(tag + 2);
        if (mode > 0)
            return openReadFile(body, 4, modePath(mode), sender());
    }
    return openReply(body, 4, false, 0);
}

// Sub-command 8: name length S in the frame's length word (bytes 4-5),
// 15.. name, 15+S type.
uint32_t message_deal::read_defined_file_start(uint8_t *body, uint32_t length)
{
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    const uint32_t s = para::get16(body, 4);
    if (uint64_t(15) + s + 1 > length)
        return openReply(body, 4, false, 0);
    const std::string name = nameField(body + 15, s);
    const uint8_t type = body[15 + s];
    const bool fixed = s == 4 && name.size() == 4;
    if (type == TYPE_ALIAS && fixed && name == "ALIS")
        return openReadFile(body, 4, ALIAS_PATH, sender());
    if (type == TYPE_OSD && fixed && name == "OSDS")
        return openReadFile(body, 4, OSD_PATH, sender());
    if (type == TYPE_USER_OSD && fixed && name.compare(0, 2, "MO") == 0) {
        int mode = modeNumber(reinterpret_cast<const uint8_t *>(name.data()) + 2);
        if (mode > 0)
            return openReadFile(body, 4, modePath(mode), sender());
    }
    if ((type == TYPE_RECOVERY || type == TYPE_MAPPING) && is_plain_name(name.data(), name.size()))
        return openReadFile(body, 8, (type == TYPE_RECOVERY ? RECOVERY_DIR : MAPPING_DIR) + name, sender());
    return openReply(body, 4, false, 0);
}

// Sub-command 5: 15-18 offset, 19-22 count B; the reply carries B bytes.
uint32_t message_deal::read_file_block(uint8_t *body, uint32_t length)
{
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    if (length < 23 || !takesFrom(file_tarix_owner, sender()))
        return reply2(body, 1, 5);   // short, or another link's read
    const uint32_t offset = para::get32(body, 15);
    const uint32_t count = para::get32(body, 19);
    if (uint64_t(count) + 2 + 11 > reply_capacity())
        return reply2(body, 1, 5);   // would not fit this link's reply frame
    reply2(body, 0, 5);
    uint8_t *out = body + 12;
    std::memset(out, 0, count);
    std::lock_guard<std::mutex> lock(Utils::_file_deal_mutex);
    if (file_tarix && fseeko(file_tarix, off_t(offset), SEEK_SET) == 0) {
        size_t got = std::fread(out, 1, count, file_tarix);
        md5_read.update(out, uint32_t(got));
    }
    return count + 2;
}

// Sub-command 6: the digest of what the blocks sent; closes the file. To
// another link's read it answers as with no file open.
uint32_t message_deal::read_file_end(uint8_t *body, uint32_t length)
{
    (void)length;
    std::lock_guard<std::mutex> guard(g_zem_file_deal_mutex);
    reply2(body, 0, 6);
    std::memset(body + 12, 0, 16);
    if (file_tarix && takesFrom(file_tarix_owner, sender())) {
        std::memcpy(body + 12, md5_read.digest(), 16);
        closeReadFile();
    }
    return 18;
}

// Sub-command 9: directory entries are not kept; answered as done.
uint32_t message_deal::read_dir_file_para(uint8_t *body, uint32_t length)
{
    (void)length;
    return reply2(body, 0, 6);
}
