// OSD drawing: the OSD memory (one palette index a pixel) filled by the
// chip's memory engine in bank 4. In character mode the area is cleared and
// the text lines drawn from the fonts in chip memory; in bitmap mode a
// full-screen bitmap and its palette come from the chip's serial flash. A
// rebuild ends by programming the OSD windows and scrolling.
//
// Palette: entry 1 is the background, entry 2 the characters, 255 is
// transparent.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "platform/timing.h"
#include "videoproc/c331_regtable.h"

#include <algorithm>
#include <mutex>

namespace {

// Memory engine (bank 4).
constexpr uint32_t B4_MEMCMD = C331_REG(4, 0x08, 1);      // 1 fill, 2 copy, 3 draw characters
constexpr uint32_t B4_FILL = C331_REG(4, 0x0B, 2);
constexpr uint32_t B4_SOURCE = C331_REG(4, 0x0D, 4);      // copy source, or font base
constexpr uint32_t B4_DEST = C331_REG(4, 0x11, 4);
constexpr uint32_t B4_MEMSTAT = C331_REG(4, 0x17, 1);     // bit 0 busy
constexpr uint32_t B4_DPITCH = C331_REG(4, 0x1B, 1);
constexpr uint32_t B4_SPITCH = C331_REG(4, 0x1C, 1);
constexpr uint32_t B4_WIDTH = C331_REG(4, 0x1E, 2);       // width - 1
constexpr uint32_t B4_HEIGHT = C331_REG(4, 0x20, 2);      // height - 1
constexpr uint32_t B4_PSCALE = C331_REG(4, 0x22, 1);      // bit 4 / 5: destination / source pitch in 512 bytes
// Character draw set-up: 0x23, 0x25 and 0x26 are 0 for every draw, 0x24 is
// the number of characters - 1.
constexpr uint32_t B4_CHR23 = C331_REG(4, 0x23, 1);
constexpr uint32_t B4_CHRCNT = C331_REG(4, 0x24, 1);
constexpr uint32_t B4_CHR25 = C331_REG(4, 0x25, 1);
constexpr uint32_t B4_CHR26 = C331_REG(4, 0x26, 1);
constexpr uint32_t B4_LISTPTR = C331_REG(4, 0x27, 2);
constexpr uint32_t B4_LISTDATA = C331_REG(4, 0x29, 1);
constexpr uint32_t B4_CHRMODE = C331_REG(4, 0x2A, 1);
// Palette port: first index, data (the index advances by itself), and the
// gate that is open while the palette is written.
constexpr uint32_t B9_PALINDEX = C331_REG(9, 0x1F, 1);
constexpr uint32_t B9_PALDATA = C331_REG(9, 0x20, 1);
constexpr uint32_t BFF_PALGATE = C331_REG(0xFF, 0x01, 1);

constexpr uint8_t CMD_FILL = 1, CMD_COPY = 2, CMD_CHARS = 3;
constexpr uint16_t LIST_HEIGHT = 0x0A00;
constexpr uint8_t PSCALE_DEST_512 = 0x10, PSCALE_SOURCE_512 = 0x20;
constexpr uint8_t DOUBLE_SIZE = 0x80;
constexpr int FG_INDEX = 2, BG_INDEX = 1, TRANSPARENT_INDEX = 255;
constexpr uint32_t PALETTE_DMA_BYTES = 816;
// A packed source wider than this gives its pitch in 512-byte units.
constexpr int PACKED_WIDE = 8320;

// The engine's status is read at most this many times, with the pause
// between reads: a 1920 x 1080 fill or copy takes a few milliseconds.
constexpr unsigned ENGINE_POLLS = 10000;
constexpr unsigned ENGINE_PAUSE_US = 10;

// The ASCII fonts hold U+0020 to U+007F, the CJK fonts U+4E00 to U+9FFF.
constexpr uint32_t ASCII_FIRST = 0x20, ASCII_LAST = 0x7F;
constexpr uint32_t CJK_FIRST = 0x4E00, CJK_LAST = 0x9FFF;

uint16_t unit_at(const uint8_t *line, int k) { return uint16_t(line[2 * k] << 8 | line[2 * k + 1]); }
bool half_width(uint16_t unit) { return unit < 0x100; }

// Line pitch of an area w wide in 128-byte units: twice the width, so that
// the scroll area holds two copies side by side, rounded up to 512 bytes.
int pitch_units(int w)
{
    const int n = 2 * ((w + 127) / 128);
    return (n + 3) & ~3;
}

// Advance of a character in the OSD memory, for a font of `size` dots.
int advance(uint16_t unit, int size, bool dbl)
{
    const int a = half_width(unit) ? size / 2 : size;
    return dbl ? 2 * a : a;
}

// Glyph of a text unit: the ASCII font's glyphs come first, the CJK font's
// after them. Units the fonts do not cover draw the space glyph, a blank.
uint16_t glyph_of(uint16_t unit, uint32_t ascii_glyphs)
{
    if (unit >= ASCII_FIRST && unit <= ASCII_LAST)
        return uint16_t(unit - ASCII_FIRST);
    if (unit >= CJK_FIRST && unit <= CJK_LAST)
        return uint16_t(unit - CJK_FIRST + ascii_glyphs);
    return 0;
}

} // namespace

void c331_manage::load_char()
{
    PS_BG_HACT = PS_PANEL_HW;
    PS_BG_VACT = PS_PANEL_VW;
    PS_BG_COLOR = 0xFF0000;
    PS_BG_TRANS = 0;
    PS_CHAR_HST = 0;
    PS_CHAR_VST = 0;
    PS_CHAR_COLOR = 0xC0C0FF;
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);   // a font reload reads the map
    load_font_map();
}

void c331_manage::load_bmp()
{
    PS_BMP_ADDR = 0xED9800;
    PS_BMP_HACT = 1920;
    PS_BMP_VACT = 1080;
    PS_BMPCP_ADDR = 0x10D3C00;
}

void c331_manage::load_unicode_char()
{
    static const char16_t *const SAMPLES[] = {u"视频处理器屏幕显示", u"ON SCREEN DISPLAY 0123456789",
                                              u"中文字符与英文字符", u"abcdefghijklmnopqrstuvwxyz",
                                              u"测试 TEST 一二三"};
    uint32_t text[5][OSD_LINE_CHARS] = {};
    int lengths[5] = {};
    for (int i = 0; i < 5; ++i)
        for (const char16_t *c = SAMPLES[i]; *c; ++c)
            text[i][lengths[i]++] = *c;
    zemApi_OsdSetUnicode(5, lengths, text);
}

uint32_t c331_manage::osd_pitch() const { return uint32_t(g_osd_mwi) * (g_osd_mwi_shift ? 512 : 128); }

void c331_manage::set_osd_pitch(int w)
{
    const int n = pitch_units(w);
    g_osd_mwi_shift = n > 64;
    g_osd_mwi = g_osd_mwi_shift ? n / 4 : n;
}

// Lines of `pitch` bytes that the OSD memory holds for an area: the second
// area, twice as many lines for its 2 x 2 tiling, lies at PS_MEM_OSD1 or
// right behind the area, whichever is further, and both end below the fonts.
int c331_manage::osd_max_lines(uint32_t pitch) const
{
    if (pitch == 0)
        return OSD_MAX_SIZE;
    const int64_t p = pitch;
    const int64_t behind_second = std::max<int64_t>(0, int64_t(PS_FONT_ADDR) - PS_MEM_OSD1) / (2 * p);
    const int64_t behind_first = std::max<int64_t>(0, int64_t(PS_FONT_ADDR) - PS_MEM_OSD) / (3 * p);
    return int(std::min<int64_t>({behind_second, behind_first, OSD_MAX_SIZE}));
}

c331_manage::OsdArea c331_manage::osd_area(bool chars) const
{
    const int w = std::clamp(chars ? PS_BG_HACT : PS_BMP_HACT, 0, OSD_MAX_SIZE);
    const int lines = osd_max_lines(uint32_t(pitch_units(w)) * 128);
    return {w, std::clamp(chars ? PS_BG_VACT : PS_BMP_VACT, 0, lines)};
}

c331_manage::OsdArea c331_manage::osd_area() const { return osd_area(PM_OSD_DATA_MODE != 0); }

c331_manage::OsdArea c331_manage::osd_visible() const
{
    const OsdArea a = osd_area();
    const int32_t *in = PM_OSD_INPUT_OFFSET;
    return {a.w - in[0] - std::max(0, in[1]), a.h - in[2] - std::max(0, in[3])};
}

uint32_t c331_manage::osd_second_area() const
{
    const int64_t behind = int64_t(PS_MEM_OSD) + int64_t(osd_pitch()) * osd_area().h;
    return uint32_t(std::max<int64_t>(PS_MEM_OSD1, behind));
}

bool c331_manage::osd_engine_run(int fd, uint8_t command)
{
    c331drv->write_C331(fd, B4_MEMCMD, command, 0);
    bool done = false;
    for (unsigned i = 0; i < ENGINE_POLLS && !done; ++i) {
        done = !(c331drv->read_C331(fd, B4_MEMSTAT, 0) & 1);
        if (!done)
            platform::pauseUs(ENGINE_PAUSE_US);
    }
    c331drv->write_C331(fd, B4_MEMCMD, 0, 0);
    if (!done)
        debugPrint("\n OSD memory engine: command %d did not finish \n", command);
    return done;
}

bool c331_manage::osd_paint(int fd, int x, int w, int y, int h, int value, uint32_t area)
{
    if (w <= 0 || h <= 0)
        return true;
    const c331_table::RegVal regs[] = {
        {B4_FILL, uint32_t(value)},
        {B4_WIDTH, uint32_t(w - 1)},
        {B4_HEIGHT, uint32_t(h - 1)},
        {B4_DEST, area + uint32_t(x) + osd_pitch() * uint32_t(y)},
        {B4_DPITCH, uint32_t(g_osd_mwi)},
        {B4_SPITCH, uint32_t(g_osd_mwi)},
        {B4_PSCALE, g_osd_mwi_shift ? uint32_t(PSCALE_DEST_512 | PSCALE_SOURCE_512) : 0u},
    };
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    c331_table::write(*c331drv, fd, regs);
    return osd_engine_run(fd, CMD_FILL);
}

bool c331_manage::osd_copy(int fd, uint32_t src, uint32_t dst, int w, int h, int packed)
{
    if (w <= 0 || h <= 0)
        return true;
    uint32_t source_pitch = uint32_t(g_osd_mwi);
    uint8_t scale = g_osd_mwi_shift ? PSCALE_DEST_512 | PSCALE_SOURCE_512 : 0;
    if (packed) {
        const bool wide = w >= PACKED_WIDE;
        source_pitch = uint32_t(wide ? w / 512 : w / 128);
        scale = uint8_t((g_osd_mwi_shift ? PSCALE_DEST_512 : 0) | (wide ? PSCALE_SOURCE_512 : 0));
    }
    const c331_table::RegVal regs[] = {
        {B4_SOURCE, src},
        {B4_DEST, dst},
        {B4_WIDTH, uint32_t(w - 1)},
        {B4_HEIGHT, uint32_t(h - 1)},
        {B4_SPITCH, source_pitch},
        {B4_DPITCH, uint32_t(g_osd_mwi)},
        {B4_PSCALE, scale},
    };
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    c331_table::write(*c331drv, fd, regs);
    return osd_engine_run(fd, CMD_COPY);
}

bool c331_manage::osd_put_unicode_string(int fd, const uint8_t *line, int x, int y, int fg, int bg, int w, int h,
                                         uint32_t area, int dot64)
{
    return osd_put_unicode_string_1char_tarix(fd, line, 0, OSD_LINE_CHARS, x, y, fg, bg, w, h, area, dot64);
}

// One engine command draws `count` characters of the line from `start` on (up
// to the line's end), the first at x, y.
bool c331_manage::osd_put_unicode_string_1char_tarix(int fd, const uint8_t *line, int start, int count, int x, int y,
                                                     int fg, int bg, int w, int h, uint32_t area, int dot64)
{
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    const uint32_t ascii_glyphs = dot64 ? PS_CHAR_SIZE_64ASCII / 512 : PS_CHAR_SIZE_32ASCII / 128;
    const uint32_t font = dot64 ? g_font_addr_64ASCII : g_font_addr_32ASCII;
    const uint8_t dbl = PM_OSD_CHAR_DOUBLE ? DOUBLE_SIZE : 0;
    c331drv->write_C331(fd, B4_CHRMODE, dot64 ? 0x48 : 0x08, 0);
    c331drv->write_C331(fd, B4_LISTPTR, LIST_HEIGHT, 0);
    c331drv->write_C331(fd, B4_LISTDATA, uint32_t(h - 1) | dbl, 0);
    c331drv->write_C331(fd, B4_LISTPTR, 0, 0);
    int chars = 0;
    for (int k = std::max(start, 0); k < OSD_LINE_CHARS && chars < count; ++k, ++chars) {
        const uint16_t unit = unit_at(line, k);
        if (unit == 0)
            break;
        const uint16_t glyph = glyph_of(unit, ascii_glyphs);
        const int width = half_width(unit) ? w / 2 : w;
        const uint32_t entry[5] = {uint32_t(glyph & 0xFF), uint32_t(glyph >> 8), uint32_t(fg) & 0xFF,
                                   uint32_t(bg) & 0xFF, (uint32_t(width - 1) & 0x7F) | dbl};
        for (uint32_t byte : entry)
            c331drv->write_C331(fd, B4_LISTDATA, byte, 0);
    }
    if (chars == 0)
        return true;
    const c331_table::RegVal draw[] = {
        {B4_CHR23, 0},
        {B4_CHRCNT, uint32_t(chars - 1)},
        {B4_CHR25, 0},
        {B4_CHR26, 0},
        {B4_SOURCE, font},
        {B4_DEST, area + uint32_t(x) + osd_pitch() * uint32_t(y)},
    };
    c331_table::write(*c331drv, fd, draw);
    return osd_engine_run(fd, CMD_CHARS);
}

// Every line of the text, each at its start and the vertical offset. A line
// is drawn when its top lies inside the area, a character when it lies
// inside its row of OSD memory (the pitch): what sticks out of the area
// lands in memory the windows do not show, and no character reaches into
// the next row or in front of the area.
bool c331_manage::gen_char(int fd)
{
    const int size = PM_OSD_CHAR_64DOT ? 64 : 32;
    const int spacing = PM_OSD_CHAR_DOUBLE ? 2 * size : size;
    const int h = osd_area().h;
    for (int i = 0; i < g_unicode_line; ++i) {
        const int y = PS_CHAR_VST + i * spacing + g_osd_v_alignment_value_tarix;
        const int x = PS_CHAR_HST + g_osd_max_line_x_tarix[i];
        if (y < 0 || y >= h)
            continue;
        const bool ok = g_osd_h_alignment_tarix == 3 ? draw_osd_justified(fd, i, x, y) : draw_osd_line(fd, i, x, y);
        if (!ok)
            return false;
    }
    return true;
}

// The line with one engine command, without the characters that lie
// outside the row on either side.
bool c331_manage::draw_osd_line(int fd, int line, int x, int y)
{
    const uint8_t *text = g_unicode_str[line];
    const int size = PM_OSD_CHAR_64DOT ? 64 : 32;
    const int row = int(osd_pitch());
    int first = -1, count = 0, first_x = 0;
    for (int k = 0, at = x; k < OSD_LINE_CHARS && unit_at(text, k) != 0; ++k) {
        const int a = advance(unit_at(text, k), size, PM_OSD_CHAR_DOUBLE != 0);
        if (at + a > row)
            break;
        if (at >= 0 && first < 0) {
            first = k;
            first_x = at;
        }
        count += first >= 0;
        at += a;
    }
    if (first < 0)
        return true;
    const int bg = PS_BG_TRANS ? TRANSPARENT_INDEX : BG_INDEX;
    return osd_put_unicode_string_1char_tarix(fd, text, first, count, first_x, y, FG_INDEX, bg, size, size,
                                              PS_MEM_OSD, PM_OSD_CHAR_64DOT);
}

// Justified: one command a character, the line's spacing after each and one
// pixel more while twice the characters so far stay within the remainder.
bool c331_manage::draw_osd_justified(int fd, int line, int x, int y)
{
    const uint8_t *text = g_unicode_str[line];
    const int size = PM_OSD_CHAR_64DOT ? 64 : 32;
    const int bg = PS_BG_TRANS ? TRANSPARENT_INDEX : BG_INDEX;
    const int row = int(osd_pitch());
    for (int k = 0; k < OSD_LINE_CHARS && unit_at(text, k) != 0; ++k) {
        const int a = advance(unit_at(text, k), size, PM_OSD_CHAR_DOUBLE != 0);
        if (x >= 0 && x + a <= row &&
            !osd_put_unicode_string_1char_tarix(fd, text, k, 1, x, y, FG_INDEX, bg, size, size, PS_MEM_OSD,
                                                PM_OSD_CHAR_64DOT))
            return false;
        x += a + g_osd_hmargin_tarix[line] + (2 * (k + 1) <= g_osd_hmargin_rem_tarix[line] ? 1 : 0);
    }
    return true;
}

void c331_manage::set_char_color(int fd)
{
    const uint32_t colors[2] = {PS_BG_COLOR, PS_CHAR_COLOR};
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    c331drv->write_C331(fd, BFF_PALGATE, 1, 0);
    c331drv->write_C331(fd, B9_PALINDEX, BG_INDEX, 0);
    for (uint32_t c : colors)
        for (int shift = 0; shift < 24; shift += 8)   // red, green, blue of 0xBBGGRR
            c331drv->write_C331(fd, B9_PALDATA, (c >> shift) & 0xFF, 0);
    c331drv->write_C331(fd, BFF_PALGATE, 0, 0);
}

bool c331_manage::draw_osd_text(int fd, int w, int h)
{
    const bool drawn = osd_paint(fd, 0, w, 0, h, PS_BG_TRANS ? TRANSPARENT_INDEX : BG_INDEX, PS_MEM_OSD) && gen_char(fd);
    wait1_povs(fd, 0);
    set_char_color(fd);
    return drawn;
}

bool c331_manage::draw_osd_bitmap(int fd, int w, int h)
{
    const uint32_t bytes = uint32_t(w) * uint32_t(h);
    const bool drawn = osd_write_dma_sfl(fd, PS_BMP_ADDR, PS_SFL_ADDR, 0, bytes) == SFL_OK &&
                       osd_copy(fd, PS_SFL_ADDR, PS_MEM_OSD, w, h, 1);
    wait1_povs(fd, 0);
    c331drv->write_C331(fd, BFF_PALGATE, 1, 0);
    const bool palette = osd_write_dma_sfl(fd, PS_BMPCP_ADDR, 0, 4, PALETTE_DMA_BYTES) == SFL_OK;
    c331drv->write_C331(fd, BFF_PALGATE, 0, 0);
    return drawn && palette;
}

// The visible part of the OSD four times into the second area, two by two,
// so that the scroll wraps around.
bool c331_manage::tile_osd1(int fd, int w, int h)
{
    const uint32_t pitch = osd_pitch();
    const uint32_t src = PS_MEM_OSD + uint32_t(PM_OSD_INPUT_OFFSET[0]) + pitch * uint32_t(PM_OSD_INPUT_OFFSET[2]);
    const uint32_t second = osd_second_area();
    const uint32_t offsets[4] = {0, uint32_t(w), pitch * uint32_t(h), pitch * uint32_t(h) + uint32_t(w)};
    for (uint32_t off : offsets)
        if (!osd_copy(fd, src, second + off, w, h, 0))
            return false;
    return true;
}

void c331_manage::update_osd(int fd)
{
    std::lock_guard<std::recursive_mutex> lock(bank4_mutex);
    const bool chars = PM_OSD_DATA_MODE != 0;
    if (!chars)
        load_bmp();
    const OsdArea area = osd_area();
    set_osd_pitch(area.w);
    bool drawn = chars ? draw_osd_text(fd, area.w, area.h) : draw_osd_bitmap(fd, area.w, area.h);

    set_rtct(fd, 2);
    set_osd(fd, 0);
    set_rtct(fd, 1);
    wait1_povs(fd, 0);

    const OsdArea shown = osd_visible();
    if (shown.w < 0 || shown.h < 0)
        return;
    drawn = drawn && tile_osd1(fd, shown.w, shown.h);
    if (!drawn)
        debugPrint("\n update_osd: the OSD memory is not complete \n");

    set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    set_rtct(fd, 1);
}
