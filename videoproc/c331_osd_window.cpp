// OSD window and scrolling: the OSD is one rectangle on the whole wall; each
// output channel shows the piece of it that falls on its tile, read from the
// OSD memory where that piece lies.

#include "videoproc/c331_manage.h"

#include "videoproc/c331_regtable.h"

#include <algorithm>

namespace {

// OSD registers of an output channel (bank 9 + 16 x channel).
constexpr uint32_t B9_OSDCTL = C331_REG(9, 0x02, 2);
constexpr uint32_t B9_OSDHST = C331_REG(9, 0x12, 2);
constexpr uint32_t B9_OSDHW = C331_REG(9, 0x14, 2);
constexpr uint32_t B9_OSDVST = C331_REG(9, 0x16, 2);
constexpr uint32_t B9_OSDVW = C331_REG(9, 0x18, 2);
constexpr uint32_t B9_OSDADDR = C331_REG(9, 0x1A, 4);
constexpr uint32_t B9_OSDMWI = C331_REG(9, 0x1E, 1);
constexpr uint32_t B9_SCRCTL = C331_REG(9, 0x3C, 1);
constexpr uint32_t B9_SCRSPEED = C331_REG(9, 0x3D, 1);
constexpr uint32_t B9_SCRHLEN = C331_REG(9, 0x40, 2);
constexpr uint32_t B9_SCRVLEN = C331_REG(9, 0x42, 2);

enum Margin { LEFT, RIGHT, TOP, BOTTOM };

// Output channels of the wall: columns across and rows down, channel = column
// + row x columns, never more than the chip's eight.
struct Grid {
    int cols, rows;
};
Grid grid(int across, int down)
{
    const int cols = std::clamp(across, 0, c331_manage::OCH_NUM);
    return {cols, std::clamp(down, 0, cols ? c331_manage::OCH_NUM / cols : 0)};
}

// Start and length of the window's piece on the tile at `origin` of `tile`
// pixels, for a window from `start` of `length` pixels.
void piece(int start, int length, int origin, int tile, int32_t &piece_start, int32_t &piece_length)
{
    const int r = start - origin;
    const bool past = origin + tile - 1 < start + length;   // the window reaches past the tile's last pixel
    piece_start = 0;
    piece_length = 0;
    if (r >= tile)
        return;
    if (r >= 0) {
        piece_start = r;
        piece_length = past ? tile - r : length;
    } else {
        piece_length = past ? tile : std::max(0, start + length - origin);
    }
}

// The fields of a tile entry that one axis uses.
struct Axis {
    int32_t _ImageWindowDef2_St::*start;
    int32_t _ImageWindowDef2_St::*length;
    int32_t _ImageWindowDef2_St::*first;
    int32_t _ImageWindowDef2_St::*last;
};
constexpr Axis COLUMNS = {&_ImageWindowDef2_St::hst, &_ImageWindowDef2_St::hw, &_ImageWindowDef2_St::hfirst,
                          &_ImageWindowDef2_St::hlast};
constexpr Axis ROWS = {&_ImageWindowDef2_St::vst, &_ImageWindowDef2_St::vw, &_ImageWindowDef2_St::vfirst,
                       &_ImageWindowDef2_St::vlast};

// The window's pieces on `count` tiles of `tile` pixels along one axis; the
// first and the last tile with a piece are marked.
void cut(const Axis &a, int start, int length, int count, int tile, _ImageWindowDef2_St *tiles)
{
    int first = -1, last = -1;
    for (int k = 0; k < count; ++k) {
        piece(start, length, k * tile, tile, tiles[k].*a.start, tiles[k].*a.length);
        if (tiles[k].*a.length == 0)
            continue;
        first = first < 0 ? k : first;
        last = k;
    }
    if (first >= 0) {
        tiles[first].*a.first = 1;
        tiles[last].*a.last = 1;
    }
}

} // namespace

void c331_manage::calc_osd(_ImageWindowDef2_St *tiles)
{
    const int32_t *out = PM_OSD_OUTPUT_OFFSET;
    const OsdArea shown = osd_visible();
    int src_w = std::max(0, shown.w);
    int src_h = std::max(0, shown.h);
    if (PM_OSD_HZOOM_EN)
        src_w *= 2;
    if (PM_OSD_VZOOM_EN)
        src_h *= 2;
    OSD_WIN.HST = out[LEFT];
    OSD_WIN.HW = std::max(0, std::min(PS_PANEL_HW - out[LEFT] - out[RIGHT], src_w));
    OSD_WIN.VST = out[TOP];
    OSD_WIN.VW = std::max(0, std::min(PS_PANEL_VW - out[TOP] - out[BOTTOM], src_h));

    std::fill(tiles, tiles + OCH_NUM, _ImageWindowDef2_St{});
    const Grid g = grid(PS_PANEL_HSHAPE, PS_PANEL_VSHAPE);
    cut(COLUMNS, OSD_WIN.HST, OSD_WIN.HW, g.cols, PS_ACTHW, tiles);
    cut(ROWS, OSD_WIN.VST, OSD_WIN.VW, g.rows, PS_ACTVW, tiles);
}

void c331_manage::set_osd(int fd, int which)
{
    uint32_t control = g_osd_mwi_shift ? 0x6000 : 0x4000;
    control += PM_OSD_VZOOM_EN ? 0x0800 : 0;
    control |= PM_OSD_HZOOM_EN ? 0x1000 : 0;
    if (PM_OSD_EN)
        control |= PM_OSD_DATA_MODE ? 3 : 2;
    control |= g_osd_layer ? 0x8000 : 0;
    const uint32_t base = which == 1 ? osd_second_area() : PS_MEM_OSD;
    const uint32_t hoff = which == 1 ? 0 : uint32_t(PM_OSD_INPUT_OFFSET[LEFT]);
    const uint32_t voff = which == 1 ? 0 : uint32_t(PM_OSD_INPUT_OFFSET[TOP]);
    const uint32_t line = uint32_t(g_osd_mwi) * (g_osd_mwi_shift ? 4 : 1) * 128;

    calc_osd(osd_tiles);
    const Grid g = grid(PS_PANEL_HSHAPE, PS_PANEL_VSHAPE);
    uint32_t y = 0;
    for (int r = 0; r < g.rows; ++r) {
        uint32_t x = 0;
        for (int c = 0; c < g.cols; ++c) {
            const _ImageWindowDef2_St &col = osd_tiles[c];
            const _ImageWindowDef2_St &row = osd_tiles[r];
            const c331_table::RegVal regs[] = {
                {B9_OSDHST, uint32_t(PS_ACTHST + col.hst - 4)},
                {B9_OSDHW, uint32_t(col.hw)},
                {B9_OSDVST, uint32_t(PS_ACTVST + row.vst + 1)},
                {B9_OSDVW, uint32_t(row.vw)},
                {B9_OSDADDR, base + hoff + x + line * (voff + y)},
                {B9_OSDMWI, uint32_t(g_osd_mwi)},
                {B9_OSDCTL, control},
            };
            for (const c331_table::RegVal &reg : regs)
                c331drv->write_C331(fd, reg.reg, reg.value, 16 * (c + r * g.cols));
            x += uint32_t(PM_OSD_HZOOM_EN ? col.hw / 2 : col.hw);
        }
        y += uint32_t(PM_OSD_VZOOM_EN ? osd_tiles[r].vw / 2 : osd_tiles[r].vw);
    }
}

void c331_manage::set_scroll(int fd)
{
    const OsdArea shown = osd_visible();
    const int hlen = shown.w;
    const int vlen = PM_OSD_DATA_MODE ? OSD_WIN.VW : shown.h;
    const int mode = (PM_OSD_SCROLL_MODE % 9 + 9) % 9;
    const uint32_t scroll = mode == 0 ? 0x80 : uint32_t((mode - 1) * 16) | 0x81;
    const Grid g = grid(PS_PANEL_HSHAPE, PS_PANEL_VSHAPE);
    const int channels = g.cols * g.rows;
    // The lengths and speed are set with the scrolling stopped, then started
    // in the new mode.
    for (uint32_t control : {0u, scroll}) {
        for (int ch = 0; ch < channels; ++ch) {
            c331drv->write_C331(fd, B9_SCRSPEED, uint32_t(PM_OSD_SCROLL_SPEED), 16 * ch);
            c331drv->write_C331(fd, B9_SCRHLEN, uint32_t(std::max(0, hlen)), 16 * ch);
            c331drv->write_C331(fd, B9_SCRVLEN, uint32_t(std::max(0, vlen)), 16 * ch);
            c331drv->write_C331(fd, B9_SCRCTL, control, 16 * ch);
        }
    }
}
