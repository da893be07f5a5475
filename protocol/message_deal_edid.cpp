// Custom EDIDs of the six video inputs: upload and read back (command 0xC1).

#include "protocol/message_deal.h"

#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/zemrampara.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "videoio/tarixsource.h"

#include <QString>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The uploaded file: a 32-byte header (bytes 2-7 preferred width, height and
// refresh, u16 little-endian) followed by the 256-byte EDID.
constexpr uint32_t HEADER_SIZE = 32;
constexpr uint32_t EDID_SIZE = 256;
constexpr uint32_t FILE_SIZE = HEADER_SIZE + EDID_SIZE;   // 288
constexpr uint32_t DATA_START = 19;                       // body offset of the file

std::string edidFile(uint16_t port)
{
    return QStringLiteral("/data/edidramtable/%1.bin").arg(port, 4, 16, QLatin1Char('0')).toStdString();
}

uint32_t reply(uint8_t *body, uint8_t status)
{
    body[10] = status;
    body[11] = 1;
    return 2;
}

} // namespace

uint32_t message_deal::write_edid_table_group(uint8_t *body, uint32_t length)
{
    switch (body[10]) {
    case 1: return write_edid_table(body, length);
    case 2: return read_edid_table(body, length);
    default: return 0;
    }
}

uint32_t message_deal::write_edid_table(uint8_t *body, uint32_t length)
{
    if (length < DATA_START)
        return reply(body, 1);
    const uint16_t port = para::get16(body, 11);
    if (port >= SOURCE_COUNT || !tarixsource::p_tarix_source)
        return reply(body, 2);
    // The table and the resolution are taken from the file, so the file must
    // be whole and lie inside the frame.
    const uint32_t size = para::get16(body, 17);
    if (size < FILE_SIZE || DATA_START + size > length)
        return reply(body, 1);
    const uint8_t *file = body + DATA_START;
    platform::ensureDir("/data/edidramtable");
    if (!platform::files::writeAtomic(edidFile(port), file, size))
        return reply(body, 1);

    uint8_t *img = ZemRamPara::pInstance()->ram_para;
    {
        ParaLock lock;
        std::memcpy(edid_ram_table[port], file + HEADER_SIZE, EDID_SIZE);
        edid_ram_table_from[port] = 1;
        edid_ram_table_new[port] = 1;
        const uint32_t words = para::edid_record(port);
        para::set16(img, words, para::get16(file, 2));
        para::set16(img, words + 2, para::get16(file, 4));
        para::set16(img, words + 4, para::get16(file, 6));
        raise_apply_request_locked(1);
    }
    return reply(body, 0);
}

uint32_t message_deal::read_edid_table(uint8_t *body, uint32_t length)
{
    (void)length;
    const uint16_t port = para::get16(body, 11);
    std::string content;
    const bool found = platform::files::readAll(edidFile(port), platform::files::Kind::EdidTable, content);
    body[10] = 0;
    body[11] = 2;
    para::set16(body, 12, port);
    if (!found) {
        std::memset(body + 14, 0, 4);
        return 8;
    }
    if (10 + 8 + FILE_SIZE + 1 > m_reply_max) {
        body[10] = 1;   // longer than this link can carry back
        return 1;
    }
    para::set16(body, 14, HEADER_SIZE);
    para::set16(body, 16, FILE_SIZE);
    std::memset(body + 18, 0, FILE_SIZE);
    std::memcpy(body + 18, content.data(), std::min<size_t>(content.size(), FILE_SIZE));
    return 8 + FILE_SIZE;
}
