// What a window shows of its source and how: the input crop (kept as margins
// of the source's picture, so that it follows a change of resolution), and
// the output word (black, freeze, fade on source change, dot-by-dot), the
// dot-by-dot mode and the mirror attribute of a window.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "app/para_layout.h"

#include <algorithm>

namespace {

constexpr int SIDES = 4;

} // namespace

ST_RECT c331_manage::crop_table_rect(uint32_t idx) const
{
    const uint32_t rec = para::crop_record(idx);
    return ST_RECT{image_word(rec + para::CROP_X), image_word(rec + para::CROP_Y), image_word(rec + para::CROP_W),
                   image_word(rec + para::CROP_H)};
}

int32_t c331_manage::dbd_mode_of(int word)
{
    static const int32_t modes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
    return word >= 0 && word < 10 ? modes[word] : 1;
}

int c331_manage::image_window(int slot) const
{
    for (int i = 0; i < WIN_NUM; ++i)
        if (win_slot[i] == slot)
            return i;
    return -1;
}

uint16_t c331_manage::window_word(int slot, uint32_t field) const
{
    const int i = image_window(slot);
    return i < 0 ? 0 : image_word(para::window(static_cast<uint32_t>(i), field));
}

// ---- input crop ----

void c331_manage::c331_SetInputsourceCrop(int win, int crop_word)
{
    note_call("c331_SetInputsourceCrop(%d,0x%04X)", win, crop_word);
    const uint32_t idx = static_cast<uint32_t>(crop_word) & 0xFF;
    if (win < 0 || win >= gMwin.count || idx >= para::CROP_ENTRIES) {
        debugPrint("[c331_SetInputsourceCrop] win_%d crop_%u out of range\n", win, idx);
        return;
    }
    gWininfo[win].crop = static_cast<uint8_t>(idx);
    gWininfo[win].input = para_image()[para::crop_record(idx)];
}

void c331_manage::c331_SetCrop(uint8_t win, uint8_t enable, ST_RECT *rect)
{
    if (enable && rect)
        note_call("c331_SetCrop(%d,1,%d,%d,%d,%d)", win, rect->x, rect->y, rect->w, rect->h);
    else
        note_call("c331_SetCrop(%d,%d)", win, enable);
    if (win >= WIN_NUM)
        return;
    // A crop entry whose source byte names no input is no crop.
    const int p = zemApi_inputCvtC331(gWininfo[win].input);
    if (!is_port(p) || !rect)
        enable = 0;
    PM_INPUT_OFFSET_EN[win] = enable ? 1 : 0;
    for (int s = 0; s < SIDES; ++s)
        PM_INPUT_OFFSET[win][s] = 0;
    if (enable) {
        const ST_ACT size = crop_source_size(p);
        if (int64_t(rect->x) + rect->w > size.hw) {
            rect->x = 0;
            rect->w = size.hw;
        }
        if (int64_t(rect->y) + rect->h > size.vw) {
            rect->y = 0;
            rect->h = size.vw;
        }
        for (int s = 0; s < SIDES; ++s)
            PM_INPUT_OFFSET[win][s] = zemApi_CropGetOffset(p, rect, s);
    }
    set_output(c331_fd);
}

// Width and height of the picture a crop of port p is taken from (hw, vw):
// a V-by-One port whose lines arrive in two halves has twice the width, and
// an interlaced port counts the lines of a frame, as the crop table and the
// window's input rectangle do.
ST_ACT c331_manage::crop_source_size(int port) const
{
    if (!is_port(port))
        return ST_ACT{0, 0, 0, 0};
    const int32_t w = port >= 4 && PI_STATE[port] < 4 ? 2 * PI_ACT[port].hw : PI_ACT[port].hw;
    const int32_t h = PI_SCAN_MODE[port] ? 2 * PI_ACT[port].vw : PI_ACT[port].vw;
    return ST_ACT{0, w, 0, h};
}

// One margin of a crop inside its source's picture (sides 0 to 3: left,
// right, top, bottom); never negative.
int32_t c331_manage::zemApi_CropGetOffset(int port, ST_RECT *rect, int side)
{
    // A port that does not exist has no picture to crop.
    if (!rect || !is_port(port))
        return 0;
    const ST_ACT size = crop_source_size(port);
    int64_t margin = 0;
    switch (side) {
    case 0: margin = rect->x; break;
    case 1: margin = int64_t(size.hw) - (int64_t(rect->x) + rect->w); break;
    case 2: margin = rect->y; break;
    case 3: margin = int64_t(size.vw) - (int64_t(rect->y) + rect->h); break;
    default: break;
    }
    return static_cast<int32_t>(std::max<int64_t>(margin, 0));
}

void c331_manage::zemApi_updateCrop(int port)
{
    note_call("zemApi_updateCrop(%d)", port);
    for (int w = 0; w < WIN_NUM && w < gMwin.count; ++w) {
        if (PM_INPUT[w] != port || !PM_INPUT_OFFSET_EN[w] || gWininfo[w].crop >= para::CROP_ENTRIES)
            continue;
        ST_RECT r = crop_table_rect(gWininfo[w].crop);
        for (int s = 0; s < SIDES; ++s)
            PM_INPUT_OFFSET[w][s] = zemApi_CropGetOffset(port, &r, s);
    }
}

// ---- output modes ----

void c331_manage::c331_SetWinOutput(int fd, uint8_t win, int word)
{
    note_call("c331_SetWinOutput(%d,%d)", win, word);
    if (win >= WIN_NUM)
        return;
    uint8_t &out = gWininfo[win].outmode;
    const uint8_t differs = static_cast<uint8_t>((out ^ word) & 3);
    bool froze = false;
    if (differs & 1) {
        out = static_cast<uint8_t>((out & ~1u) | (word & 1));
        set_input_bkg2(fd, win, word & 1);
    }
    if (differs & 2) {
        out = static_cast<uint8_t>(out & ~2u);
        // Without a signal there is no picture to hold: the request is dropped.
        if (!port_nosignal(PM_INPUT[win])) {
            out = static_cast<uint8_t>(out | (word & 2));
            win_freeze_sel(fd, win, word & 2);
            froze = true;
        }
    }
    // The fade and dot-by-dot bits of the same word are kept even when it
    // froze the window; a freeze alone needs no output pass.
    PM_WIN_FADE_EN[win] = (word >> 2) & 1;
    const int32_t mode = (word & para::WIN_FLAG_P2P) ? dbd_mode_of(window_word(win, para::WIN_P2P_MODE)) : 0;
    if (froze && mode == PM_WIN_DBD_MODE[win])
        return;
    PM_WIN_DBD_MODE[win] = mode;
    g_chg_dbd[win] = 1;
    set_output(fd);
}

// The mode word takes effect while the window's dot-by-dot is on; while it
// is off the image keeps the word for the moment it is switched on.
void c331_manage::c331_SetWinDbdMode(int fd, uint8_t win, int word)
{
    note_call("c331_SetWinDbdMode(%d,%d)", win, word);
    if (win >= WIN_NUM || !(window_word(win, para::WIN_FLAGS) & para::WIN_FLAG_P2P))
        return;
    PM_WIN_DBD_MODE[win] = dbd_mode_of(word);
    g_chg_dbd[win] = 1;
    set_output(fd);
}

void c331_manage::c331_SetWinAttr(uint8_t win, int word)
{
    note_call("c331_SetWinAttr(%d,%d)", win, word);
    if (win >= gMwin.count || win >= WIN_NUM)
        return;
    gWininfo[win].rotate = static_cast<uint8_t>(word & 3);
    win_hmirror[win] = word & 1;
    win_vmirror[win] = (word >> 1) & 1;
    g_chg_attr[win] = 1;
    set_output(c331_fd);
}
