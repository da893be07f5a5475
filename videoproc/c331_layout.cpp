// Multi-window layout: the layout directory, the fallback window set, and
// which output channels draw each window.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t NO_CHANNEL = 0xFF;

// One channel tile of the output: where an output channel's picture lies.
struct Tile {
    int x, y, w, h;
};

bool holds(int start, int length, int v) { return start <= v && v < start + length; }
bool holds_edge(int start, int length, int v) { return start <= v && v <= start + length; }

} // namespace

void c331_manage::zemApi_MultiWinInit()
{
    // Only the first layout is used: one window over the whole wall.
    layout_rects[0][0] = ST_RECT{0, 0, gPanel.width, gPanel.height};
    layout_dir[0].pwin = layout_rects[0];
}

void c331_manage::zemApi_MultiWinGet(ST_MWIN *out)
{
    out->count = layout_dir[0].count;
    for (int k = 0; k < layout_dir[0].count; ++k)
        out->pwin[k] = layout_dir[0].pwin[k];
}

void c331_manage::zemApi_initEnvC331Default()
{
    zemApi_MultiWinInit();
    gMwin.pwin = gMwinRect;
    gMwin.count = layout_dir[0].count;
    for (int n = 0; n < gMwin.count; ++n) {
        ST_RECT r = layout_dir[0].pwin[n];
        r.x += gPanel.xoffs;
        r.y += gPanel.yoffs;
        gMwinRect[n] = r;
        ST_WIN_INFO &wi = gWininfo[n];
        wi.x = static_cast<uint16_t>(r.x);
        wi.y = static_cast<uint16_t>(r.y);
        wi.w = static_cast<uint16_t>(r.w);
        wi.h = static_cast<uint16_t>(r.h);
        wi.rotate = 0;
        wi.winEn = 1;
    }
    // No image window has a slot of its own in the fallback set.
    for (int i = 0; i < WIN_NUM; ++i)
        win_slot[i] = -1;
}

// Each window gets the block of channel tiles its rectangle spans: the tile
// holding its top-left corner to the tile holding its far corner. The
// arrangement decides which coordinates count: across only (2 x 1), down
// only (1 x 2), or both (4 x 1, 2 x 2).
void c331_manage::zemApi_MultiWinChAlloc(char init)
{
    debugPrint("\n [zemApi_MultiWinChAlloc] init:%d\n", init);
    for (ST_WIN_INFO &wi : gWininfo) {
        std::memset(wi.ochLst, NO_CHANNEL, sizeof(wi.ochLst));
        std::memset(wi.ochPosLst, NO_CHANNEL, sizeof(wi.ochPosLst));
        wi.och_HCnt = wi.och_VCnt = 0;
    }
    const int cols = gPanel.och_HCnt;
    const int rows = gPanel.och_VCnt;
    const int count = std::min(cols * rows, OCH_NUM);
    if (count == 0)
        return;   // no panel set up yet: no window has a channel
    const bool across = gPanel.arrang != 8;
    const bool down = gPanel.arrang != 5;
    Tile tiles[OCH_NUM];
    for (int k = 0; k < count; ++k)
        tiles[k] = Tile{k % cols * gPanel.och.width, k / cols * gPanel.och.height, gPanel.och.width,
                        gPanel.och.height};

    int start = 0, end = 0;   // a corner no tile holds keeps the previous window's tile
    for (int n = 0; n < gMwin.count && n < WIN_NUM; ++n) {
        ST_WIN_INFO &wi = gWininfo[n];
        for (int k = 0; k < count; ++k) {
            const Tile &t = tiles[k];
            if ((!across || holds(t.x, t.w, wi.x)) && (!down || holds(t.y, t.h, wi.y)))
                start = k;
            if ((!across || holds_edge(t.x, t.w, wi.x + wi.w)) && (!down || holds_edge(t.y, t.h, wi.y + wi.h))) {
                end = k;
                break;
            }
        }
        // The window covers the columns and rows between its two tiles, and
        // no more.
        const int c0 = start % cols, r0 = start / cols, c1 = end % cols, r1 = end / cols;
        if (start > end || c0 > c1 || r0 > r1)
            continue;
        wi.och_HCnt = static_cast<uint8_t>(c1 - c0 + 1);
        wi.och_VCnt = static_cast<uint8_t>(r1 - r0 + 1);
        int j = 0;
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c, ++j)
                wi.ochLst[j] = wi.ochPosLst[j] = static_cast<uint8_t>(r * cols + c);
    }
}

void c331_manage::zemApi_MultiWinChOverlay()
{
    for (int c = 0; c < OCH_NUM; ++c)
        PM_OVERLAY[c] = c + 1;
    const int wins = std::min(gMwin.count, WIN_NUM);
    if (wins <= 0)
        return;
    std::memset(och_owner, 255, sizeof(och_owner));
    std::memset(och_duplicate, 255, sizeof(och_duplicate));
    for (int n = 0; n < wins; ++n)
        for (uint8_t ch : gWininfo[n].ochLst)
            if (ch < OCH_NUM)
                och_owner[ch] = ch;
    if (wins == 1)
        return;

    // A channel already drawing an earlier window is replaced by the lowest
    // idle channel; the overlay stage then mixes the two.
    for (int p = 0; p < wins; ++p) {
        const uint8_t *mine = gWininfo[p].ochLst;
        for (int m = p + 1; m < wins; ++m) {
            for (uint8_t &ch : gWininfo[m].ochLst) {
                if (ch >= OCH_NUM || std::find(mine, mine + OCH_NUM, ch) == mine + OCH_NUM)
                    continue;
                const uint8_t *idle = std::find(och_owner, och_owner + OCH_NUM, 255);
                if (idle == och_owner + OCH_NUM)
                    continue;
                ch = static_cast<uint8_t>(idle - och_owner);
                och_owner[ch] = ch;
                och_duplicate[ch] = 1;
            }
        }
    }

    // A tile shown by several windows: each of their channels shows that tile.
    bool handled[OCH_NUM] = {};
    for (int q = 0; q < OCH_NUM; ++q) {
        int holders = 0;
        for (int n = 0; n < wins; ++n) {
            const uint8_t *pos = gWininfo[n].ochPosLst;
            holders += std::find(pos, pos + OCH_NUM, q) != pos + OCH_NUM;
        }
        if (holders < 2)
            continue;
        for (int n = 0; n < wins; ++n) {
            const uint8_t *pos = gWininfo[n].ochPosLst;
            const uint8_t *at = std::find(pos, pos + OCH_NUM, q);
            if (at == pos + OCH_NUM)
                continue;
            const uint8_t ch = gWininfo[n].ochLst[at - pos];
            if (ch < OCH_NUM && !handled[ch]) {
                PM_OVERLAY[ch] = q + 1;
                handled[ch] = true;
            }
        }
    }
    g_chg_overlay = 1;
}

void c331_manage::zemApi_MultiWinChInit()
{
    zemApi_MultiWinChOverlay();

    std::memset(win_out, 0xFF, sizeof(win_out));
    for (int w = 0; w < WIN_NUM; ++w) {
        win_out[w].last = 1;
        PM_INPUT[w] = 6;
        std::memset(PM_WIN_SHAPE[w], 0, sizeof(PM_WIN_SHAPE[w]));
        std::memset(PM_WIN_OFFSET[w], 0, sizeof(PM_WIN_OFFSET[w]));
        std::memset(PM_INPUT_OFFSET[w], 0, sizeof(PM_INPUT_OFFSET[w]));
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = 0;
        win_update_level[w] = 0;
    }

    const int wins = std::min(gMwin.count, WIN_NUM);
    for (int n = 0; n < wins; ++n) {
        ST_WIN_INFO &wi = gWininfo[n];
        g_chg_win[n] = g_chg_input[n] = g_chg_dbd[n] = 1;
        PM_WIN_SHAPE[n][0] = wi.och_HCnt;
        PM_WIN_SHAPE[n][1] = wi.och_VCnt;
        PM_INPUT[n] = zemApi_inputCvtC331(wi.input);
        for (int side = 0; side < 4; ++side)
            PM_WIN_OFFSET[n][side] = zemApi_OchGetWinOffset1(&wi, side);
        if (!PM_INPUT_OFFSET_EN[n])
            continue;
        ST_RECT crop = crop_table_rect(wi.crop);
        for (int side = 0; side < 4; ++side)
            PM_INPUT_OFFSET[n][side] = zemApi_CropGetOffset(PM_INPUT[n], &crop, side);
    }

    for (int c = 0; c < OCH_NUM; ++c) {
        PM_WIN_NUM[c] = 6;
        PM_AREA_NUM[c] = 8;
    }
    for (int n = 0; n < wins; ++n) {
        const ST_WIN_INFO &wi = gWininfo[n];
        for (int j = 0; j < wi.och_HCnt * wi.och_VCnt && j < OCH_NUM; ++j) {
            const uint8_t ch = wi.ochLst[j];
            if (ch >= OCH_NUM)
                break;
            PM_WIN_NUM[ch] = n;
            PM_AREA_NUM[ch] = j;
        }
    }
    // The mixers stack the channels of this layout's windows.
    c331_SetWinPriority1(c331_fd);
    for (int c = 0; c < OCH_NUM; ++c)
        c331drv->write_c331_mask(c331_fd, 0x000801 + 0x100 * c, PM_WIN_NUM[c] != 6 ? 1 : 0, 1, 0);
    // A test pattern shown follows the new layout.
    pattern_follow_layout();
}

// One margin of a window inside its block of output areas: left, right, top
// or bottom (sides 0 to 3).
int32_t c331_manage::zemApi_OchGetWinOffset1(ST_WIN_INFO *win, int side)
{
    const int A = PS_ACTHW;
    const int B = PS_ACTVW;
    switch (side) {
    case 0: return A ? win->x % A : 0;
    case 1: return A ? A * win->och_HCnt - (win->x % A + win->w) : 0;
    case 2: return B ? win->y % B : 0;
    case 3: return B ? B * win->och_VCnt - (win->y % B + win->h) : 0;
    default: return 0;
    }
}
