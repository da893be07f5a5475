// Sending-card parameter save, version, flash unique id, FPGA update start and
// the clock command.

#include "protocol/message_deal.h"

#include "app/global.h"
#include "app/para_layout.h"
#include "app/utils.h"
#include "sendcard/clock_record_run.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/fpga_manage.h"

#include <QString>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t PAGE = fpga_manage::PAGE_SIZE;
constexpr uint32_t RECORD_MARK_ADDRESS = 0x308000;   // 0xAA, then the parameter page
constexpr uint32_t RECORD_PAGE_ADDRESS = 0x308001;
constexpr uint32_t RECORD_UNIT = 0x308;              // its 4 KB erase unit
constexpr uint8_t RECORD_MARK = 0xAA;
constexpr uint32_t UPDATE_DESCRIPTOR_ADDRESS = 0x301001;
constexpr uint32_t UPDATE_DESCRIPTOR_SIZE = 256;
constexpr uint8_t UPDATE_DESCRIPTOR_BANK = 10;
constexpr uint8_t UID_SELECTOR = 2;          // FPGA 0's flash
constexpr uint8_t DESCRIPTOR_SELECTOR = 2;

bool isLocal(const uint8_t *body)
{
    uint16_t dest = para::get16(body, 0);
    return dest == 0xF100 || dest == 0xF101;
}

// FPGAs chosen by byte 7 alone: 1 FPGA 0, 2 FPGA 1, else both (FPGA 0 first).
std::vector<uint8_t> chosenFpgas(const uint8_t *body)
{
    if (body[7] == 1)
        return {0};
    if (body[7] == 2)
        return {1};
    return {0, 1};
}

uint8_t selectorOf(uint8_t fpga) { return uint8_t(fpga + 2); }

void putTicks(uint8_t *p)
{
    uint32_t v = G_timeTicks.load() / 20;
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// Saves FPGA n's parameter page into its flash and checks it by reading the
// record back. False when the flash does not hold the page afterwards. The
// page is saved as it was when the save began; the shadow is left as it is.
bool savePage(fpga_manage *f, uint8_t n)
{
    const uint8_t sel = selectorOf(n);
    uint8_t saved[PAGE];
    f->with_pages([&](card_pages &c) { std::memcpy(saved, c.MCU_RAM_PARA_func[n], PAGE); });
    fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(sel, RECORD_UNIT, 0, 1);

    // The flash write overwrites the four bytes in front of each 256-byte
    // page of its buffer: it works on a copy.
    std::vector<uint8_t> buf(4 + PAGE);
    std::memcpy(buf.data() + 4, saved, PAGE);
    fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(sel, RECORD_PAGE_ADDRESS, buf.data(), PAGE);
    uint8_t mark[5] = {0, 0, 0, 0, RECORD_MARK};
    fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(sel, RECORD_MARK_ADDRESS, mark, 1);

    std::vector<uint8_t> scratch(1 + PAGE);
    fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(sel, RECORD_MARK_ADDRESS, uint32_t(scratch.size()), scratch.data());
    return scratch[0] == RECORD_MARK && std::memcmp(scratch.data() + 1, saved, PAGE) == 0;
}

// A BCD byte whose two digits are 0..9 and whose value lies in [lo, hi].
bool bcdValue(uint8_t b, int lo, int hi, int &out)
{
    int high = b >> 4, low = b & 0x0F;
    if (high > 9 || low > 9)
        return false;
    out = high * 10 + low;
    return out >= lo && out <= hi;
}

} // namespace

uint32_t message_deal::param_save(uint8_t *body)
{
    fpga_manage *f = fpga_manage::pInstance();
    const std::vector<uint8_t> fpgas = chosenFpgas(body);
    const bool both = fpgas.size() == 2;
    uint8_t status = 0;
    for (uint8_t n : fpgas) {
        if (!savePage(f, n))
            status = 1;
        f->R47_back_mcu_set_net_para(n);
        if (both && n == 0) {
            f->R47_mcu_set_net_para(0);
            uint8_t page[PAGE];
            f->with_pages([&page](card_pages &c) { std::memcpy(page, c.MCU_RAM_PARA_func[0], PAGE); });
            f->write_fpga_ram(page, 0, PAGE, 1, 0);
            f->write_to_register(2, 1, 1, 0);
        }
    }
    body[10] = status;
    return 1;
}

uint32_t message_deal::get_card_version(uint8_t *body)
{
    if (isLocal(body)) {
        const uint8_t fixed[13] = {0, g_update_status.load(), 8, 0x52, 151, 11, 0, 40, 9, 38, 2, 0, 0};
        std::memcpy(body + 10, fixed, sizeof fixed);
    } else {
        fpga_manage *f = fpga_manage::pInstance();
        const uint8_t n = (body[6] == 0 && body[7] == 2) ? 1 : 0;
        uint8_t reg[fpga_manage::REG_COUNT];
        f->with_pages([&](card_pages &c) { std::memcpy(reg, c.MCU_REG_func[n], sizeof reg); });
        const uint8_t bytes[13] = {0, reg[21], 0, 0x43, 11, 11, reg[28], reg[29], reg[30], reg[31], 0, 0, 0};
        std::memcpy(body + 10, bytes, sizeof bytes);
    }
    putTicks(body + 23);
    return 17;
}

uint32_t message_deal::get_card_uid(uint8_t *body)
{
    if (!fpga_manage::p_fpga_manage) {
        if (!isLocal(body))
            return 0;
        body[10] = 1;
        return 1;
    }
    fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(UID_SELECTOR, body + 11);
    body[10] = 0;
    return 9;
}

uint32_t message_deal::start_update(uint8_t *body, uint32_t length)
{
    if (isLocal(body)) {
        body[10] = 0;
        return 1;
    }
    if (length == 11 && !(body[10] & 0x02))
        return 1;   // the flag byte goes back unchanged
    if (length != 10 && length != 11) {
        body[10] = 1;
        return 1;
    }
    fpga_manage *f = fpga_manage::pInstance();
    for (uint8_t n : chosenFpgas(body)) {
        uint8_t desc[UPDATE_DESCRIPTOR_SIZE];
        fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(DESCRIPTOR_SELECTOR, UPDATE_DESCRIPTOR_ADDRESS, UPDATE_DESCRIPTOR_SIZE, desc);
        f->write_fpga_ram(desc, 0, UPDATE_DESCRIPTOR_SIZE, UPDATE_DESCRIPTOR_BANK, n);
        f->write_to_register(23, 0x40, 0x40, n);
        f->reset_fpga_rst(n);
    }
    body[10] = 0;
    return 1;
}

uint32_t message_deal::write_rtc_time(uint8_t *body, uint32_t length)
{
    int year2, century, month, day, hour, minute, second;
    const bool ok = length >= 17 && bcdValue(body[10], 0, 99, year2) && bcdValue(body[11], 0, 99, century) &&
                    bcdValue(body[12], 1, 12, month) && bcdValue(body[13], 1, 31, day) &&
                    bcdValue(body[14], 0, 23, hour) && bcdValue(body[15], 0, 59, minute) &&
                    bcdValue(body[16], 0, 59, second);
    if (!ok) {
        body[10] = 1;
        return 1;
    }
    const QString date = QStringLiteral("%1-%2-%3").arg(century * 100 + year2).arg(month).arg(day);
    const QString time = QStringLiteral("%1:%2:%3").arg(hour).arg(minute).arg(second);
    Utils::system_mutex(QStringLiteral("date \"%1 %2\";hwclock -wu").arg(date, time));
    if (fpga_manage::p_fpga_manage)
        clock_record_run::dealwith_record_timing();
    body[10] = 0;
    return 1;
}
