// OSD items and text layout: the model of what the OSD shows, changed item by
// item, and the text lines with their horizontal and vertical placement.
// Nothing here touches the chip; the items raise the refresh or the rebuild
// request that the chip thread serves.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "app/para_layout.h"

#include <QStringList>
#include <QVector>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {

enum Margin { LEFT, RIGHT, TOP, BOTTOM };

// Text units the OSD stores: code points beyond 16 bits have no glyph, and
// cutting them to 16 bits would give another character's glyph (U+24E00
// would draw U+4E00) or end the line (U+20000); they are kept as a character
// without glyph. A code point 0 inside a line is a blank, not its end.
uint16_t osd_unit(uint32_t code)
{
    if (code == 0)
        return 0x20;
    return code > 0xFFFF ? 0xFFFD : uint16_t(code);
}

} // namespace

c331_manage::OsdCharSize c331_manage::osd_char_size() const
{
    if (!PM_OSD_CHAR_64DOT)
        return {16, 32, 1};
    if (!PM_OSD_HZOOM_EN)
        return {32, 64, 1};
    return PM_OSD_CHAR_DOUBLE ? OsdCharSize{128, 256, 2} : OsdCharSize{64, 128, 2};
}

int c331_manage::zemApi_OsdSet(int item, int value)
{
    debugPrint("[zemApi_OsdSet] type:%d, val:%x\n", item, value);
    int32_t *const in = PM_OSD_INPUT_OFFSET;
    int32_t *const out = PM_OSD_OUTPUT_OFFSET;
    switch (item) {
    case 0: PM_OSD_EN = value != 0; osd_refresh_request = 1; break;
    case 1: PM_OSD_HZOOM_EN = value != 0; osd_refresh_request = 1; break;
    case 2: PM_OSD_VZOOM_EN = value != 0; osd_refresh_request = 1; break;
    case 3: PM_OSD_DATA_MODE = value != 0; osd_rebuild_request = 1; break;
    case 4: PM_OSD_SCROLL_MODE = value % 9; osd_refresh_request = 1; break;
    case 5: out[LEFT] = image_word(para::LED_X) + value; break;
    case 6: out[RIGHT] = PS_PANEL_HW - value - out[LEFT]; break;
    case 7: out[TOP] = value; break;
    case 8: out[BOTTOM] = PS_PANEL_VW - value - out[TOP]; break;
    case 9: in[LEFT] = 0; break;
    case 10: osd_fit_source_width(value); break;
    case 11: in[TOP] = 0; break;
    // The source is `value` high from the top of the OSD memory: the
    // character area, or the bitmap in bitmap mode.
    case 12: in[BOTTOM] = osd_area().h - value - in[TOP]; break;
    case 13: PM_OSD_SCROLL_SPEED = value % 256; osd_refresh_request = 1; break;
    case 14: PM_OSD_CHAR_64DOT = value != 0; osd_rebuild_request = 1; break;
    case 15: PM_OSD_UPDATE_BUTTON = value != 0; osd_rebuild_request = 1; break;
    case 16: PS_BG_COLOR = uint32_t(value) & 0xFFFFFF; break;
    case 17: PS_CHAR_COLOR = uint32_t(value) & 0xFFFFFF; break;
    case 18: PS_BG_TRANS = value != 0; break;
    case 19: PS_BG_HACT = value; break;
    case 20: PS_BG_VACT = value; break;
    case 21: PS_CHAR_HST = value; break;
    case 22: PS_CHAR_VST = value; break;
    case 32:
        osd_refresh_request = (value >> 7) & 1;
        osd_rebuild_request = (value >> 6) & 1;
        break;
    case 33: g_osd_layer = value != 0; break;
    case 34: osd_align_lines(value); break;
    case 35: osd_align_vertical(value); break;
    case 48: PM_OSD_CHAR_DOUBLE = value; break;
    default: return 0;
    }
    return 1;
}

// Item 10: the source is `value` wide from the left of the OSD memory. With
// the 64-dot fonts a text wider than the memory area widens the area to the
// text instead. The 32-dot fonts leave the margin as it is.
void c331_manage::osd_fit_source_width(int value)
{
    if (!PM_OSD_CHAR_64DOT)
        return;
    const OsdCharSize s = osd_char_size();
    int widest = 0, line = 0;
    for (int i = 0; i < g_unicode_line; ++i) {
        const int width = g_osd_half_cnt_tarix[i] * s.en + g_osd_full_cnt_tarix[i] * s.cn;
        if (width > widest) {
            widest = width;
            line = i;
        }
    }
    const int area = osd_area(true).w;
    if (area >= widest) {
        PM_OSD_INPUT_OFFSET[RIGHT] = area - value - PM_OSD_INPUT_OFFSET[LEFT];
        return;
    }
    const int memory = g_osd_full_cnt_tarix[line] * (s.cn / s.scale) + g_osd_half_cnt_tarix[line] * (s.en / s.scale);
    PS_BG_HACT = std::min(memory, OSD_MAX_SIZE);
    PM_OSD_INPUT_OFFSET[RIGHT] = 0;
}

// Item 34: each line's start x (centre, right) or its spacing (justify)
// inside the output window, from the counts, the font and the margins as
// they are now.
void c331_manage::osd_align_lines(int mode)
{
    g_osd_h_alignment_tarix = mode;
    if (mode < 0 || mode > 3)
        return;
    const OsdCharSize s = osd_char_size();
    const int window = PS_PANEL_HW - PM_OSD_OUTPUT_OFFSET[LEFT] - PM_OSD_OUTPUT_OFFSET[RIGHT];
    for (int i = 0; i < g_unicode_line; ++i) {
        const int free = window - (g_osd_full_cnt_tarix[i] * s.cn + g_osd_half_cnt_tarix[i] * s.en);
        const int chars = g_osd_char_cnt_tarix[i];
        int start = 0, spacing = 0, remainder = 0;
        if (free >= 0 && mode == 1) {
            start = free / (2 * s.scale);
        } else if (free >= 0 && mode == 2) {
            start = free / s.scale;
        } else if (free >= 0 && mode == 3 && chars < 2) {
            spacing = free / s.scale;
        } else if (free >= 0 && mode == 3) {
            const int d = s.scale * (chars - 1);
            spacing = free / d;
            remainder = free % d;
        }
        g_osd_max_line_x_tarix[i] = start;
        g_osd_hmargin_tarix[i] = spacing;
        g_osd_hmargin_rem_tarix[i] = remainder;
    }
}

// Item 35: the offset of every line that puts the text block at the top, in
// the middle or at the bottom of the output window.
void c331_manage::osd_align_vertical(int mode)
{
    const OsdCharSize s = osd_char_size();
    const int text = g_unicode_line * s.cn;
    const int window = PS_PANEL_VW - PM_OSD_OUTPUT_OFFSET[BOTTOM] - PM_OSD_OUTPUT_OFFSET[TOP];
    const int free = window - text;
    switch (mode) {
    case 0: g_osd_v_alignment_value_tarix = 0; break;
    case 1: g_osd_v_alignment_value_tarix = free >= 0 ? free / (2 * s.scale) : 0; break;
    case 2: g_osd_v_alignment_value_tarix = free >= 0 ? free / s.scale : 0; break;
    default: break;
    }
}

int c331_manage::zemApi_OsdSetUnicode(int lines, const int *lengths, const uint32_t (*text)[OSD_LINE_CHARS])
{
    std::memset(g_unicode_str, 0, sizeof(g_unicode_str));
    const int n = std::clamp(lines, 0, OSD_LINES);
    for (int i = 0; i < n; ++i) {
        const int len = std::clamp(lengths[i], 0, OSD_LINE_CHARS);
        for (int k = 0; k < len; ++k) {
            const uint16_t unit = osd_unit(text[i][k]);
            g_unicode_str[i][2 * k] = uint8_t(unit >> 8);
            g_unicode_str[i][2 * k + 1] = uint8_t(unit);
        }
    }
    g_unicode_line = n;
    return 0;
}

// A menu's text into the text buffer: lines split at "\n" (a "\r" before it
// belongs to the line end), empty lines kept, at most 64 lines of at most 128
// characters; the counts of each line are those of the characters kept.
void c331_manage::load_osd_text(const std::string &text)
{
    std::unique_ptr<uint32_t[][OSD_LINE_CHARS]> codes(new uint32_t[OSD_LINES][OSD_LINE_CHARS]());
    int lengths[OSD_LINES] = {};
    const QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    const int n = std::min(int(lines.size()), OSD_LINES);
    for (int i = 0; i < n; ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QVector<uint> ucs = line.toUcs4();
        const int len = std::min(int(ucs.size()), OSD_LINE_CHARS);
        int half = 0;
        for (int k = 0; k < len; ++k) {
            codes[i][k] = ucs[k];
            half += osd_unit(ucs[k]) < 0x100;
        }
        lengths[i] = len;
        g_osd_char_cnt_tarix[i] = len;
        g_osd_half_cnt_tarix[i] = half;
        g_osd_full_cnt_tarix[i] = len - half;
        g_osd_max_line_x_tarix[i] = 0;
        g_osd_hmargin_tarix[i] = 0;
        g_osd_hmargin_rem_tarix[i] = 0;
    }
    zemApi_OsdSetUnicode(n, lengths, codes.get());
}
