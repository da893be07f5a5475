// Window rectangles and scaling: the input rectangle IWIN (which source pixels
// a window uses), the output rectangle OWIN (where they go inside the window's
// block of output areas), its split over the areas, the scaling ratios and
// the stitching partner of a window. Computations over the chip model only:
// nothing here touches the chip.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"

#include <algorithm>

namespace {

// Ports that a dot-by-dot mosaic lays side by side (widths add up) and one
// above the other (heights add up); -1 ends a list.
struct Mosaic {
    int32_t mode;
    int8_t across[4];
    int8_t down[2];
};

const Mosaic MOSAICS[] = {
    {20, {0, 1, -1, -1}, {0, -1}},    // DBD_CMOS_IN12
    {21, {0, -1, -1, -1}, {0, 1}},    // DBD_CMOS_IN12V
    {22, {2, 3, -1, -1}, {2, -1}},    // DBD_CMOS_IN34
    {23, {2, -1, -1, -1}, {2, 3}},    // DBD_CMOS_IN34V
    {30, {0, 1, 2, -1}, {0, -1}},     // DBD_CMOS_IN123
    {40, {0, 1, 2, 3}, {0, -1}},      // DBD_CMOS_IN1234
    {41, {0, 1, -1, -1}, {0, 2}},     // DBD_CMOS_IN1234Q
    {50, {4, 5, -1, -1}, {4, -1}},    // DBD_VBO_IN12
    {51, {4, -1, -1, -1}, {4, 5}},    // DBD_VBO_IN12V
};

const Mosaic *find_mosaic(int32_t mode)
{
    for (const Mosaic &m : MOSAICS)
        if (m.mode == mode)
            return &m;
    return nullptr;
}

// A length less two margins; below 1 it falls back to `fallback`. 64-bit so
// that no margin can overflow the difference.
int32_t cut(int32_t length, int32_t a, int32_t b, int32_t fallback)
{
    const int64_t left = int64_t(length) - a - b;
    return left < 1 ? fallback : static_cast<int32_t>(left);
}

// One direction of calc_scaling: mode, shrink ratio, zoom ratio.
void scale_one(int32_t in, int32_t out, int32_t &mode, int32_t &shrink, int32_t &zoom)
{
    mode = shrink = zoom = 0;
    if (in > out && out > 0) {
        mode = 1;
        shrink = static_cast<int32_t>((int64_t(out - 1) * 65536) / (in - 1) + 1);
    } else if (in < out && in > 0) {
        mode = 2;
        zoom = static_cast<int32_t>((int64_t(in - 1) * 65536) / (out - 1) + 1);
    }
}

// Last window other than `w` whose stitching master is `w`, or -1.
int32_t stitch_partner(const int32_t *stitching, int32_t w)
{
    int32_t partner = -1;
    for (int32_t j = 0; j < c331_manage::WIN_NUM; ++j)
        if (j != w && stitching[j] == w)
            partner = j;
    return partner;
}

} // namespace

ST_ACT c331_manage::dbd_rect(int port) const
{
    return is_port(port) ? PI_ACT_FULL[port] : ST_ACT{0, 0, 0, 0};
}

void c331_manage::calc_iwin2(int w)
{
    if (!zemApi_IsWinValid(w))
        return;
    _ImageWindowDef_st &r = IWIN[w];
    r = _ImageWindowDef_st{0, 0, 0, 0};
    const int p = PM_INPUT[w];
    // A window without a port, or whose port has no signal, uses nothing.
    if (PM_WIN_SHAPE[w][0] == 0 || PM_WIN_SHAPE[w][1] == 0 || !is_port(p) || PI_ACT[p].hw == 0 ||
        PI_ACT[p].vw == 0)
        return;

    // An interlaced picture is woven into full frames on channels 0 to 3.
    const bool woven = PI_SCAN_MODE[p] != 0 && win_ich[w][0] < 4;
    const int32_t mode = PM_WIN_DBD_MODE[w];
    if (mode == 1) {
        r.HW = dbd_rect(p).hw;
        r.VW = dbd_rect(p).vw * (woven ? 2 : 1);
    } else if (const Mosaic *m = find_mosaic(mode)) {
        for (int8_t q : m->across)
            r.HW += q >= 0 ? dbd_rect(q).hw : 0;
        for (int8_t q : m->down)
            r.VW += q >= 0 ? dbd_rect(q).vw : 0;
    } else {
        const int32_t W = PI_ACT[p].hw * (PI_STATE[p] == 1 ? 2 : 1);
        const int32_t H = PI_ACT[p].vw;
        if (!PM_INPUT_OFFSET_EN[w]) {
            r.HW = W;
            r.VW = woven ? 2 * H : H;
        } else {
            // The crop counts frame lines. Channels 4 to 7 keep an interlaced
            // picture as fields: there its lines are read at half the count.
            const int32_t *crop = PM_INPUT_OFFSET[w];
            const int32_t H2 = PI_SCAN_MODE[p] ? 2 * H : H;
            r.HST = crop[0] >= W ? 0 : crop[0];
            r.HW = cut(W, crop[0], crop[1], W);
            r.VST = crop[2] >= H2 ? 0 : crop[2];
            r.VW = cut(H2, crop[2], crop[3], H2);
            if (PI_SCAN_MODE[p] && !woven) {
                r.VST /= 2;
                r.VW = std::max(1, r.VW / 2);
            }
        }
    }
    debugPrint("calc_iwin2 IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, r.HST, r.HW, r.VST, r.VW);
}

void c331_manage::calc_owin2(int w)
{
    if (!zemApi_IsWinValid(w))
        return;
    _ImageWindowDef_st &o = OWIN[w];
    _ImageWindowDef_st &i = IWIN[w];
    o = _ImageWindowDef_st{0, 0, 0, 0};
    if (PM_WIN_SHAPE[w][0] > 0)
        o.HW = PS_ACTHW * PM_WIN_SHAPE[w][0];
    if (PM_WIN_SHAPE[w][1] > 0)
        o.VW = PS_ACTVW * PM_WIN_SHAPE[w][1];
    const int32_t *margin = PM_WIN_OFFSET[w];
    o.HST = margin[0];
    o.VST = margin[2];
    // Margins wider than the block leave an empty window, never a negative
    // size that a one-to-one window would pass on to its input side.
    o.HW = std::max(0, cut(o.HW, margin[0], margin[1], 0));
    o.VW = std::max(0, cut(o.VW, margin[2], margin[3], 0));

    if (PM_WIN_DBD_MODE[w] != 0 && !PM_WIN_DBD_OPT[w]) {
        // A one-to-one window is cut, never scaled.
        i.HW = o.HW = std::min(i.HW, o.HW);
        i.VW = o.VW = std::min(i.VW, o.VW);
    } else if (PM_WIN_DBD_MODE[w] != 0) {
        i.HW = std::min(i.HW, o.HW);
        i.VW = std::min(i.VW, o.VW);
        if (i.HW < 1)
            o.HW = i.HW;
        if (i.VW < 1)
            o.VW = i.VW;
    }
    debugPrint("calc_owin2 OWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", w, o.HST, o.HW, o.VST, o.VW);
}

namespace {

// The segments of one direction of a window over `count` areas of `size`:
// start inside the area and length, with the first and last area touched.
void split(int32_t start, int32_t length, int32_t size, int count, int32_t _ImageWindowDef2_St::*st,
           int32_t _ImageWindowDef2_St::*len, int32_t _ImageWindowDef2_St::*first,
           int32_t _ImageWindowDef2_St::*last, _ImageWindowDef2_St *areas)
{
    const int64_t end = int64_t(start) + length;
    int firstTouched = -1, lastTouched = -1;
    for (int i = 0; i < count; ++i) {
        const int64_t s = int64_t(i) * size;
        const int64_t local = start - s;
        const bool runsPast = s + size - 1 < end;
        int64_t st_i = 0, len_i = 0;
        if (local >= size) {
            // The window begins right of this area.
        } else if (local < 0) {
            len_i = runsPast ? size : std::max<int64_t>(end - s, 0);
        } else {
            st_i = local;
            len_i = runsPast ? size - local : length;
        }
        areas[i].*st = static_cast<int32_t>(st_i);
        areas[i].*len = static_cast<int32_t>(len_i);
        if (len_i != 0) {
            firstTouched = firstTouched < 0 ? i : firstTouched;
            lastTouched = i;
        }
    }
    if (firstTouched >= 0) {
        areas[firstTouched].*first = 1;
        areas[lastTouched].*last = 1;
    }
}

} // namespace

void c331_manage::calc_oact(_ImageWindowDef_st owin, _ImageWindowDef2_St *areas, int w)
{
    for (int i = 0; i < OCH_NUM; ++i)
        areas[i] = _ImageWindowDef2_St{0, 0, 0, 0, 0, 0, 0, 0};
    if (!zemApi_IsWinValid(w))
        return;
    // At most eight areas: the record holds no more.
    const int cols = std::clamp(PM_WIN_SHAPE[w][0], 0, OCH_NUM);
    const int rows = std::clamp(PM_WIN_SHAPE[w][1], 0, OCH_NUM);
    using A = _ImageWindowDef2_St;
    split(owin.HST, owin.HW, PS_ACTHW, cols, &A::hst, &A::hw, &A::hfirst, &A::hlast, areas);
    split(owin.VST, owin.VW, PS_ACTVW, rows, &A::vst, &A::vw, &A::vfirst, &A::vlast, areas);
}

void c331_manage::calc_scaling(_ImageWindowDef_st in, _ImageWindowDef_st out, _ScalingSt *s)
{
    scale_one(in.HW, out.HW, s->hmode, s->hshrink, s->hzoom);
    scale_one(in.VW, out.VW, s->vmode, s->vshrink, s->vzoom);
}

// 0: w stands alone; 1: w heads a stitch group (partner: its last member);
// 2: w is a member, replaced by its master, partner the master's last member.
int c331_manage::check_stitching_win(int32_t *w, int32_t *partner)
{
    *partner = -1;
    if (!zemApi_IsWinValid(*w))
        return 0;
    const int32_t master = PM_WIN_STITCHING[*w];
    if (master == *w) {
        *partner = stitch_partner(PM_WIN_STITCHING, *w);
        return *partner >= 0 ? 1 : 0;
    }
    // A master that is no window leaves w on its own.
    if (!zemApi_IsWinValid(master))
        return 0;
    *w = master;
    *partner = stitch_partner(PM_WIN_STITCHING, master);
    return *partner >= 0 && PM_WIN_STITCHING[master] == master ? 2 : 0;
}
