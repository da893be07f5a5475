// The output side of a window: every output channel that drives one area of
// the window's block reads its part of the window's frame buffers, zooms it
// when the window is larger than its input, mirrors it when asked and places
// it on its area.

#include "videoproc/c331_manage.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Per output channel (channel offset 16 x channel).
constexpr uint32_t SOURCE_SEL = C331_REG(0x08, 0x08, 2);
constexpr uint32_t LR_MIRROR = C331_REG(0x08, 0x22, 1);
constexpr uint32_t H_END = C331_REG(0x08, 0x32, 2);
constexpr uint32_t OUT_HST = C331_REG(0x08, 0x40, 2);
constexpr uint32_t OUT_HW = C331_REG(0x08, 0x42, 2);
constexpr uint32_t OUT_VST = C331_REG(0x08, 0x44, 2);
constexpr uint32_t OUT_VW = C331_REG(0x08, 0x46, 2);
constexpr uint32_t VZOOM_EN = C331_REG(0x0A, 0x44, 1);
constexpr uint32_t HZOOM_CTRL = C331_REG(0x0A, 0x46, 1);
constexpr uint32_t HZPHASE_A = C331_REG(0x0A, 0x47, 1);
constexpr uint32_t HZPHASE_B = C331_REG(0x0A, 0x48, 1);
constexpr uint32_t HZOOM_RATIO = C331_REG(0x0A, 0x49, 2);
constexpr uint32_t VZOOM_CTRL = C331_REG(0x0A, 0x4B, 1);
constexpr uint32_t VZPHASE_A = C331_REG(0x0A, 0x4C, 1);
constexpr uint32_t VZPHASE_B = C331_REG(0x0A, 0x4D, 1);
constexpr uint32_t VZOOM_RATIO = C331_REG(0x0A, 0x4E, 2);
constexpr uint32_t VZOOM_COEF = C331_REG(0x0A, 0x68, 1);    // 24 coefficients
constexpr uint32_t READ_ADDR = C331_REG(0x16, 0x08, 4);     // five, 4 sub-addresses apart
constexpr uint32_t READ_PITCH = C331_REG(0x16, 0x30, 1);
// Chip-wide, one per output channel (sub-address + channel).
constexpr uint32_t OSCWCT = C331_REG(0x00, 0x69, 1);

// Pixels of context a zoom filter reads before and after its share.
constexpr int64_t LOOK = 4;
constexpr int32_t MIN_READ = 16;
// Earliest output start, in pixel clocks after the line start and in lines
// after the frame start, that the output channel can honour.
constexpr int32_t EARLIEST_H = 10;
constexpr int32_t EARLIEST_V = 3;

// The vertical zoom filter; the same for every ratio (255 to 252 are -1 to -4).
const uint8_t VZOOM_TABLE[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 254, 253,
                                 252, 252, 253, 0, 5, 13, 24, 35, 46, 56, 62, 64};

// Bytes per pixel of a packing mode as a fraction.
struct PixelBytes {
    int64_t bpu, div;
    int64_t of(int64_t pixels) const { return bpu * pixels / div; }
};

PixelBytes pixel_bytes(int mode)
{
    switch (mode) {
    case 1: return {16, 5};
    case 2: return {8, 3};
    case 3: return {2, 1};
    default: return {4, 1};
    }
}

// Source position of output position `acc` under zoom ratio z (16.16).
int64_t source_pos(int64_t z, int64_t acc)
{
    const int64_t x = z * acc;
    return (x >> 16) + ((x & 0xFFFF) >= z ? 1 : 0);
}

int64_t first_output(int64_t z, int64_t a) { return (z + a * 65536 - 1) / z; }
int32_t zoom_phase(int64_t q, int64_t z) { return static_cast<int32_t>(((q * z) & 0xFFFF) + 128) / 256; }

// What one column (or row) of a window's areas reads.
struct Segment {
    int64_t skip = 0;     // output start correction
    int64_t count = 0;    // pixels (lines) read
    int64_t offset = 0;   // byte offset in the buffers
    int32_t phase = 0;
    uint8_t ctrl = 0;
};

struct Axis {
    int count;                      // columns (rows)
    int32_t len[8];                 // width (height) of each
    int first, last;                // first and last touched, -1 when none
};

// The columns (rows) of a window's areas: one direction of calc_oact.
using Area = _ImageWindowDef2_St;
Axis axis(const Area *areas, int n, int32_t Area::*len, int32_t Area::*first, int32_t Area::*last)
{
    Axis a{n, {}, -1, -1};
    for (int i = 0; i < n; ++i) {
        a.len[i] = areas[i].*len;
        if (areas[i].*first)
            a.first = i;
        if (areas[i].*last)
            a.last = i;
    }
    return a;
}

// Start of the part of column (row) c a zoom filter reads: P(c), and the
// look-back and output correction that let the filter settle before it.
struct ZoomStart {
    int64_t P, P1, back, a, q;
};

ZoomStart zoom_start(const Axis &ax, int c, int64_t z, int64_t acc)
{
    ZoomStart s{source_pos(z, acc), source_pos(z, acc + ax.len[c]), 0, 0, 0};
    if (c == ax.first)
        return s;
    if (s.P >= LOOK + 1) {
        s.a = s.P - LOOK;
        s.q = first_output(z, s.a);
        s.back = LOOK;
    } else {
        s.back = s.P;
    }
    return s;
}

std::vector<Segment> plan_columns(const Axis &ax, const _ScalingSt &sc, int32_t owinHW, bool mirror,
                                  PixelBytes px)
{
    std::vector<Segment> seg(ax.count);
    const int64_t z = sc.hzoom;
    const int64_t T = sc.hmode == 2 ? source_pos(z, owinHW) : 0;
    int64_t acc = 0;
    for (int c = 0; c < ax.count; acc += ax.len[c], ++c) {
        Segment &s = seg[c];
        if (sc.hmode != 2) {
            s.count = std::max<int64_t>(ax.len[c], MIN_READ);
            s.offset = mirror ? px.of(owinHW - (ax.len[c] + acc)) : px.of(acc);
            continue;
        }
        if (ax.len[c] == 0) {
            s.ctrl = 0x47;
            continue;
        }
        const ZoomStart st = zoom_start(ax, c, z, acc);
        s.ctrl = 199;
        if (c != ax.first) {
            s.skip = st.P >= LOOK + 1 ? st.q - acc : -acc;
            s.offset = px.of(st.a);
        }
        const int64_t ahead = c != ax.last ? std::min(st.P1, LOOK) : 0;
        s.count = std::max<int64_t>(st.P1 - st.P + st.back + ahead, MIN_READ);
        s.phase = zoom_phase(st.q, z);
        if (mirror)
            s.offset = px.of(T - (c != ax.last ? st.P1 + LOOK : st.P1));
    }
    return seg;
}

std::vector<Segment> plan_rows(const Axis &ax, const _ScalingSt &sc, int32_t owinVW, bool mirror, int64_t L,
                               bool marked)
{
    std::vector<Segment> seg(ax.count);
    const int64_t z = sc.vzoom;
    int64_t T = 0;
    if (sc.vmode == 2) {
        const int64_t x = z * owinVW;
        T = (x >> 16) - ((x & 0xFFFF) < z ? 1 : 0);
    }
    int64_t acc = 0;
    for (int r = 0; r < ax.count; acc += ax.len[r], ++r) {
        Segment &s = seg[r];
        if (sc.vmode != 2) {
            s.count = ax.len[r] + 1;
            s.offset = mirror ? L * (owinVW - 1) - acc * L : acc * L;
        } else if (ax.len[r] == 0) {
            s.skip = -1;
            s.count = 2;
            s.ctrl = 4;
        } else {
            const ZoomStart st = zoom_start(ax, r, z, acc);
            s.ctrl = 0x84;
            s.skip = r == ax.first ? -1 : st.P >= LOOK + 1 ? st.q - acc - 1 : -acc - 1;
            s.offset = L * st.a;
            s.phase = zoom_phase(st.q, z);
            if (mirror)
                s.offset = L * T - s.offset;
            const int64_t ahead = r != ax.last ? std::min(st.P1, LOOK) : 0;
            s.count = st.P1 - st.P + st.back + ahead + 2;
        }
        if (marked)
            s.ctrl = 5;
    }
    return seg;
}

} // namespace

void c331_manage::set_display_window_och(int fd, _ImageWindowDef_st in, _ImageWindowDef_st owin, int w)
{
    if (!zemApi_IsWinValid(w))
        return;
    // Members of a stitch group read the memory set-up of the group's master.
    int32_t m = w, partner = -1;
    check_stitching_win(&m, &partner);
    const bool hmirror = win_hmirror[m] != 0;
    const bool vmirror = win_vmirror[m] != 0;
    const int32_t dmode = PM_WIN_DBD_MODE[m];
    const bool dbdMemory = dmode > 0 && !(dmode == 1 && check_dbd_input(PM_INPUT[m]) == 0);
    const int ch0 = win_ich[m][0];
    // A window without an input channel has nothing in memory to show.
    if (!dbdMemory && (ch0 < 0 || ch0 >= ICH_NUM))
        return;
    const uint32_t *buffers = dbdMemory ? dbd_mem_addr[m] : PS_MEM_SC[ch0];
    const int32_t pitch = dbdMemory ? dbd_pitch[m] : static_cast<int32_t>(PS_ICH_MEMVAL);
    const uint32_t readPitch = static_cast<uint32_t>(vmirror ? 256 - pitch : pitch);
    const int64_t L = int64_t(pitch) * 1024;
    const PixelBytes px = pixel_bytes(PM_MEM_WMODE[m]);

    _ImageWindowDef2_St areas[OCH_NUM];
    calc_oact(owin, areas, w);
    _ScalingSt sc;
    calc_scaling(in, OWIN[w], &sc);

    // Where the window's picture starts in memory.
    const int64_t hpix = sc.hmode == 1 ? ((int64_t(sc.hshrink) * (in.HST - 1)) >> 16) + 1 : in.HST;
    const int64_t vlin = sc.vmode == 1 ? ((int64_t(sc.vshrink) * (in.VST - 1)) >> 16) + 1 : in.VST;
    const int64_t start = px.of(hpix) + vlin * L;

    const Axis cx = axis(areas, std::clamp(PM_WIN_SHAPE[w][0], 0, OCH_NUM), &Area::hw, &Area::hfirst, &Area::hlast);
    const Axis rx = axis(areas, std::clamp(PM_WIN_SHAPE[w][1], 0, OCH_NUM), &Area::vw, &Area::vfirst, &Area::vlast);
    const bool marked = och_mark[w] == 1;
    const std::vector<Segment> col = plan_columns(cx, sc, OWIN[w].HW, hmirror, px);
    const std::vector<Segment> row = plan_rows(rx, sc, OWIN[w].VW, vmirror, L, marked);
    // A marked window reads one line earlier.
    const int64_t D = !marked ? 0 : vmirror ? -L : L;

    // An output that would start too close to the line or frame start is
    // shown empty rather than programmed wrongly.
    bool hEarly = false, vEarly = false;
    for (int c = 0; c < cx.count; ++c)
        hEarly = hEarly || areas[c].hst + col[c].skip + PS_ACTHST < EARLIEST_H;
    for (int r = 0; r < rx.count; ++r)
        vEarly = vEarly || areas[r].vst + row[r].skip + PS_ACTVST < EARLIEST_V;

    int32_t och_list[OCH_NUM];
    get_och(w, och_list);
    c331_drv &d = *c331drv;
    int firstOch = -1;
    for (int r = 0; r < rx.count; ++r) {
        for (int c = 0; c < cx.count; ++c) {
            const int i = r * cx.count + c;
            if (i >= OCH_NUM)
                break;
            const int och = och_list[i];
            if (och < 0 || och >= OCH_NUM)
                continue;
            const uint32_t link = och == 0 ? 0x01 : 0x11;
            const uint32_t source = firstOch < 0 ? (uint32_t(ch0 < 0 ? 0 : ch0) << 8) | link
                                                 : (uint32_t(firstOch) << 8) | link | 0x1000;
            if (firstOch < 0)
                firstOch = och;
            // Chip addresses are 32-bit: the sum wraps like the chip's.
            const uint32_t rel = static_cast<uint32_t>(row[r].offset + col[c].offset + start - D);
            const std::pair<uint32_t, uint32_t> regs[] = {
                {SOURCE_SEL, source},
                // The five buffers' read addresses, 4 sub-addresses apart.
                {READ_ADDR, buffers[0] + rel}, {READ_ADDR + 0x400, buffers[1] + rel},
                {READ_ADDR + 0x800, buffers[2] + rel}, {READ_ADDR + 0xC00, buffers[3] + rel},
                {READ_ADDR + 0x1000, buffers[4] + rel},
                {READ_PITCH, readPitch},
                {OUT_HST, areas[c].hst + col[c].skip + PS_ACTHST},
                {OUT_HW, hEarly ? 0 : col[c].count},
                {OUT_VST, areas[r].vst + row[r].skip + PS_ACTVST},
                {OUT_VW, vEarly ? 0 : row[r].count},
                {LR_MIRROR, hmirror ? 1 : 0},
                {H_END, areas[c].hst + areas[c].hw + PS_OAOIHST},
                {HZOOM_CTRL, col[c].ctrl}, {HZPHASE_A, col[c].phase}, {HZPHASE_B, col[c].phase},
                {HZOOM_RATIO, sc.hzoom},
                {VZOOM_EN, sc.vmode == 2 ? 3 : 0},
                {VZOOM_CTRL, row[r].ctrl}, {VZPHASE_A, row[r].phase}, {VZPHASE_B, row[r].phase},
                {VZOOM_RATIO, sc.vzoom},
            };
            for (const auto &reg : regs)
                d.write_C331(fd, reg.first, reg.second, 16 * och);
            set_oscwct(fd, och);
            set_lut_vzoom_4sym(fd, sc.vzoom, och);
        }
    }
}

// Read packing of an output channel: the memory mode of the master of the
// window it shows. A channel that shows no window is left alone.
void c331_manage::set_oscwct(int fd, int och)
{
    if (och < 0 || och >= OCH_NUM || !zemApi_IsWinValid(PM_WIN_NUM[och]))
        return;
    const int32_t m = PM_WIN_STITCHING[PM_WIN_NUM[och]];
    if (!zemApi_IsWinValid(m))
        return;
    c331drv->write_C331(fd, OSCWCT + (uint32_t(och) << 8), packing_value(PM_MEM_WMODE[m]), 0);
}

void c331_manage::set_lut_vzoom_4sym(int fd, int ratio, int och)
{
    if (och < 0 || och >= OCH_NUM)
        return;
    for (int k = 0; k < 24; ++k) {
        // Below 1 the filter passes the line through unchanged.
        const uint32_t v = ratio < 1 ? (k == 0 ? 64 : 0) : VZOOM_TABLE[k];
        c331drv->write_C331(fd, VZOOM_COEF + (uint32_t(k) << 8), v, 16 * och);
    }
}
