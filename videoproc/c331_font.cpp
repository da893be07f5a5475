// OSD fonts in the chip's serial flash: which of the four fonts are present,
// and their copy into chip memory, where the character engine reads them.
//
// A font in flash is a 35-byte header ('P' in byte 0 when valid, glyph width
// and height in bytes 17 and 18) followed by its glyphs, one bit per pixel,
// leftmost pixel in the least significant bit.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/zemrampara.h"

#include <string>

namespace {

constexpr uint32_t HEADER_SIZE = 35;
constexpr uint8_t VALID_MARK = 'P';
constexpr uint32_t FONT_STATUS_BYTE = 6;   // of the status page

struct FontSlot {
    const char *name;
    uint32_t header;        // flash address of the header
    uint32_t size;          // glyph bytes
    uint32_t c331_manage::*flash_addr;
    uint32_t c331_manage::*flash_size;
    std::atomic<uint32_t> c331_manage::*mem_addr;
    int present_bit;        // bit of font_present_bits
    uint8_t status_bits;    // bits of the font status byte (the 64-dot fonts serve three sizes)
};

// In the order they are loaded into chip memory: each size's CJK font right
// behind its ASCII font, so that CJK glyph n is glyph 96 + n of the pair.
constexpr FontSlot FONTS[] = {
    {"32 ASCII", 0x000000, 0x3000, &c331_manage::PS_CHAR_ADDR_32ASCII, &c331_manage::PS_CHAR_SIZE_32ASCII,
     &c331_manage::g_font_addr_32ASCII, 1, 0x01},
    {"32 CJK", 0x010000, 0x290000, &c331_manage::PS_CHAR_ADDR_32CHN, &c331_manage::PS_CHAR_SIZE_32CHN,
     &c331_manage::g_font_addr_32CHN, 0, 0x02},
    {"64 ASCII", 0x410000, 0xC000, &c331_manage::PS_CHAR_ADDR_64ASCII, &c331_manage::PS_CHAR_SIZE_64ASCII,
     &c331_manage::g_font_addr_64ASCII, 3, 0x54},
    {"64 CJK", 0x450000, 0xA40000, &c331_manage::PS_CHAR_ADDR_64CHN, &c331_manage::PS_CHAR_SIZE_64CHN,
     &c331_manage::g_font_addr_64CHN, 2, 0xA8},
};
// The headers are checked CJK first at each size.
constexpr int CHECK_ORDER[] = {1, 0, 3, 2};

// 32-dot glyphs: 32 rows of 4 bytes.
constexpr uint32_t GLYPH32 = 128;
constexpr uint32_t ASCII_FIRST = 0x20, ASCII_LAST = 0x7F;
constexpr uint32_t CJK_FIRST = 0x4E00, CJK_LAST = 0x9FFF;

} // namespace

void c331_manage::load_font_map()
{
    for (const FontSlot &f : FONTS) {
        this->*f.flash_addr = f.header + HEADER_SIZE;
        this->*f.flash_size = f.size;
    }
}

void c331_manage::read_c331_font(int fd)
{
    note_call("read_c331_font()");
    int present = 0;
    uint8_t checked = 0, valid = 0;   // bits of the font status byte
    {
        std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
        for (int i : CHECK_ORDER) {
            const FontSlot &f = FONTS[i];
            uint8_t header[HEADER_SIZE] = {};
            read_flash(fd, f.header, HEADER_SIZE, header);   // a failed read leaves zeros: absent
            debugPrint("\n font %s at 0x%06x: type 0x%02x, %d x %d", f.name, f.header, header[0], header[17],
                       header[18]);
            checked |= f.status_bits;
            if (header[0] == VALID_MARK) {
                present |= 1 << f.present_bit;
                valid |= f.status_bits;
            }
        }
        font_present_bits = present;
    }
    // The PC tool reads the status page on other links.
    ZemRamPara::pInstance()->set_status_bits(FONT_STATUS_BYTE, checked, valid);
}

void c331_manage::update_font(int fd)
{
    note_call("update_font()");
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    uint32_t address = PS_FONT_ADDR;
    bool ok = true;
    for (const FontSlot &f : FONTS) {
        this->*f.mem_addr = address;
        // After a time-out the controller is not asked again; the addresses are still laid out.
        if (ok)
            ok = osd_write_dma_sfl(fd, this->*f.flash_addr, address, 0, this->*f.flash_size) == SFL_OK;
        address += this->*f.flash_size;
    }
}

void c331_manage::zemApi_debug_printf_unicode(uint32_t code, int fd)
{
    if (g_debugSwitch != 254)
        return;
    uint32_t address;
    if (code >= ASCII_FIRST && code <= ASCII_LAST) {
        address = PS_CHAR_ADDR_32ASCII + (code - ASCII_FIRST) * GLYPH32;
    } else if (code >= CJK_FIRST && code <= CJK_LAST) {
        address = PS_CHAR_ADDR_32CHN + (code - CJK_FIRST) * GLYPH32;
    } else {
        debugPrint("\t unicode:%x OOR, rang:%x - %x, return;", code, CJK_FIRST, CJK_LAST);
        return;
    }
    uint8_t glyph[GLYPH32];
    read_flash(fd, address, GLYPH32, glyph);
    for (uint32_t row = 0; row < 32; ++row) {
        std::string line;
        for (uint32_t b = 0; b < 4; ++b)
            for (int bit = 0; bit < 8; ++bit)
                line += (glyph[row * 4 + b] >> bit) & 1 ? 'O' : ' ';
        debugPrint("%s\n", line.c_str());
    }
}
