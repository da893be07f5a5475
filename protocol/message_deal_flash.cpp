// Flash commands: 0x70 erase, 0x71 write and 0x72 read. The PC tool's raw
// access to the chip's serial flash (fonts, OSD bitmap), the two FPGA
// configuration flashes and the run-log window of FPGA 0's flash.
//
// Sent to the controller, the top byte of the address names the flash; sent
// to the sending card, body bytes 6 and 7 name the FPGA. Ranges, alignment
// and modes are checked before anything is touched (status 1); the area of a
// write must have been erased before.

#include "protocol/message_deal.h"

#include "app/para_layout.h"
#include "sendcard/clock_record_run.h"
#include "sendcard/fpga_drv.h"
#include "videoproc/c331_manage.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint8_t DONE = 0, REFUSED = 1;
constexpr uint32_t UNIT = 4096;

enum class Store { Fpga, Chip, Input };

struct FlashTarget {
    Store store;
    uint32_t size;
    std::vector<uint8_t> selectors;   // FPGA flashes, in the order they are served
    bool runLog = false;              // only the run-log window of FPGA 0's flash
};

constexpr uint8_t FPGA0_FLASH = 2, FPGA1_FLASH = 3;
constexpr uint32_t INPUT_FLASH_SIZE = 0x10000;

// Flash number of a request to the controller (address bits 24-31).
FlashTarget local_target(uint8_t flash)
{
    switch (flash) {
    case 0: return {Store::Fpga, fpga_drv::FLASH_SIZE, {FPGA0_FLASH}, true};
    case 3: return {Store::Fpga, fpga_drv::FLASH_SIZE, {FPGA1_FLASH}};
    case 4: return {Store::Chip, c331_manage::SFL_SIZE, {}};
    case 8: return {Store::Input, INPUT_FLASH_SIZE, {}};
    default: return {Store::Fpga, fpga_drv::FLASH_SIZE, {FPGA0_FLASH}};
    }
}

// A request to the sending card: byte 6, else byte 7 picks the FPGA; any
// other byte 7 means both for erase and write, FPGA 0 for a read.
FlashTarget remote_target(const uint8_t *body, bool both)
{
    if (body[6] != 0 || body[7] == 1)
        return {Store::Fpga, fpga_drv::FLASH_SIZE, {FPGA0_FLASH}};
    if (body[7] == 2)
        return {Store::Fpga, fpga_drv::FLASH_SIZE, {FPGA1_FLASH}};
    return {Store::Fpga, fpga_drv::FLASH_SIZE, both ? std::vector<uint8_t>{FPGA0_FLASH, FPGA1_FLASH}
                                                    : std::vector<uint8_t>{FPGA0_FLASH}};
}

FlashTarget target_of(const uint8_t *body, bool both)
{
    uint16_t dest = para::get16(body, 0);
    bool local = dest == 0xF100 || dest == 0xF101;
    return local ? local_target(body[13]) : remote_target(body, both);
}

// Where [address, address + len) lies in the FPGA flash; false when a
// run-log request reaches outside the window.
bool place(const FlashTarget &t, uint32_t &address, uint64_t len)
{
    if (!t.runLog)
        return true;
    const uint64_t start = clock_record_run::LOG_WINDOW;
    if (address < start || address + len > start + clock_record_run::LOG_SIZE)
        return false;
    address -= clock_record_run::LOG_SHIFT;
    return true;
}

// An operation on the chip's flash, when the chip can be reached.
template <class F> uint8_t on_chip(F operation)
{
    c331_manage *m = c331_manage::instance();
    if (m->c331_fd < 0)
        return REFUSED;
    return operation(*m) == c331_manage::SFL_OK ? DONE : REFUSED;
}

// Erase units by block mode: 1 = 4 KiB, 2 = 32 KiB, 4 = 64 KiB blocks; 0 for another mode.
uint32_t units_per_block(uint8_t mode)
{
    switch (mode) {
    case 1: return 1;
    case 2: return 8;
    case 4: return 16;
    default: return 0;
    }
}

// The erase mode of the flash routines: 0 4 KiB, 1 32 KiB, 2 64 KiB.
uint8_t erase_mode(uint32_t units) { return units == 1 ? 0 : units == 8 ? 1 : 2; }

uint8_t erase_in(const FlashTarget &t, uint32_t unit, uint32_t units, uint32_t count)
{
    uint8_t mode = erase_mode(units);
    if (t.store == Store::Chip)
        return on_chip([&](c331_manage &m) { return m.erase_flash(m.c331_fd, unit, count, mode); });
    if (t.store == Store::Input)
        return DONE;
    uint32_t address = unit * UNIT;
    if (!place(t, address, uint64_t(units) * count * UNIT))
        return REFUSED;
    if (t.runLog) {
        // In 4 KiB blocks: the window is not 32 KiB aligned in FPGA 0's
        // flash, so larger blocks would reach past it.
        mode = 0;
        count *= units;
    }
    for (uint8_t s : t.selectors)
        fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(s, address / UNIT, mode, count);
    return DONE;
}

uint8_t write_to(const FlashTarget &t, uint32_t address, const uint8_t *data, uint32_t len)
{
    if (t.store == Store::Chip)
        return on_chip([&](c331_manage &m) { return m.write_flash(m.c331_fd, address, len, data); });
    if (t.store == Store::Input)
        return DONE;
    if (!place(t, address, len))
        return REFUSED;
    // The FPGA flash writer programs from four bytes into the buffer it is
    // given and overwrites the four bytes in front of each page: every flash
    // gets a copy of its own.
    for (uint8_t s : t.selectors) {
        std::vector<uint8_t> buf(4 + len);
        std::memcpy(buf.data() + 4, data, len);
        fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(s, address, buf.data(), len);
    }
    return DONE;
}

uint8_t read_from(const FlashTarget &t, uint32_t address, uint8_t *out, uint32_t len)
{
    if (t.store == Store::Chip)
        return on_chip([&](c331_manage &m) { return m.read_flash(m.c331_fd, address, len, out); });
    if (t.store == Store::Input) {
        std::memset(out, 0, len);   // nothing is read from it
        return DONE;
    }
    if (!place(t, address, len))
        return REFUSED;
    fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(t.selectors[0], address, len, out);
    return DONE;
}

// A byte range [a, a + len) inside the flash; an empty range at 0 is refused too.
bool in_flash(const FlashTarget &t, uint32_t a, uint32_t len) { return uint32_t(a - 1 + len) < t.size; }

uint8_t erase_request(const uint8_t *body, uint32_t bodyLen)
{
    if (bodyLen < 16)
        return REFUSED;
    const uint32_t a = para::get32(body, 10);
    const uint32_t unit = (a >> 12) & 0xFFF;
    const uint32_t units = units_per_block(body[14]);
    const uint32_t count = body[15] ? body[15] : 1;
    const FlashTarget t = target_of(body, true);
    if ((a & 0xFFF) != 0 || units == 0 || unit % units != 0)
        return REFUSED;
    if (unit + units * count - 1 >= t.size / UNIT)
        return REFUSED;
    return erase_in(t, unit, units, count);
}

uint8_t write_request(const uint8_t *body, uint32_t bodyLen)
{
    if (bodyLen < 18)
        return REFUSED;
    const uint32_t a = para::get32(body, 10) & 0xFFFFFF;
    const uint32_t len = para::get16(body, 14);
    const FlashTarget t = target_of(body, true);
    if (18 + len > bodyLen || !in_flash(t, a, len))
        return REFUSED;   // the data run past the frame, or the range past the flash
    return write_to(t, a, body + 18, len);
}

} // namespace

uint32_t message_deal::cmd_erase_flash(uint8_t *body)
{
    body[10] = erase_request(body, m_body_len);
    return 1;
}

uint32_t message_deal::cmd_write_flash(uint8_t *body)
{
    body[10] = write_request(body, m_body_len);
    return 1;
}

uint32_t message_deal::cmd_read_flash(uint8_t *body)
{
    if (m_body_len < 16) {
        body[10] = REFUSED;
        return 1;
    }
    const uint32_t a = para::get32(body, 10) & 0xFFFFFF;
    const uint32_t len = para::get16(body, 14);
    const FlashTarget t = target_of(body, false);
    // Refused: past the flash, or longer than this link can carry back.
    body[10] = in_flash(t, a, len) && 11 + len + 1 <= m_reply_max ? read_from(t, a, body + 11, len) : REFUSED;
    return body[10] == DONE ? len + 1 : 1;
}
