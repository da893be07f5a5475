// The input side of a window: one input channel, or a pair for a line that
// arrives in two halves (up to four for a dot-by-dot mosaic), captures the
// window's input rectangle, shrinks it when the window is smaller than its
// input, and writes it into the window's frame buffers in the chip's memory.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"

#include <algorithm>
#include <utility>

namespace {

// Per input channel (channel offset 16 x channel).
constexpr uint32_t WRITE_CTRL = C331_REG(0x10, 0x09, 1);    // 1 write, 2 stop, >= 8 partner link
constexpr uint32_t CAP_HST = C331_REG(0x10, 0x17, 2);
constexpr uint32_t CAP_HW = C331_REG(0x10, 0x19, 2);
constexpr uint32_t CAP_VST = C331_REG(0x10, 0x1B, 2);
constexpr uint32_t CAP_VW = C331_REG(0x10, 0x1D, 2);
constexpr uint32_t PHASE_FLAGS = C331_REG(0x11, 0x42, 1);   // bit 7 H phase, bit 3 V phase
constexpr uint32_t SCALER_MODE = C331_REG(0x11, 0x43, 1);
constexpr uint32_t HSHRNK_CTRL = C331_REG(0x11, 0x44, 1);
constexpr uint32_t HPHASE_A = C331_REG(0x11, 0x45, 1);
constexpr uint32_t HPHASE_B = C331_REG(0x11, 0x46, 1);
constexpr uint32_t HSHRNK_RATIO = C331_REG(0x11, 0x47, 2);
constexpr uint32_t VSHRNK_CTRL = C331_REG(0x11, 0x49, 1);
constexpr uint32_t VPHASE_A = C331_REG(0x11, 0x4A, 1);
constexpr uint32_t VPHASE_B = C331_REG(0x11, 0x4B, 1);
constexpr uint32_t VSHRNK_RATIO = C331_REG(0x11, 0x4C, 2);
constexpr uint32_t FRAME_BUF = C331_REG(0x16, 0x1C, 4);     // five, 4 sub-addresses apart
constexpr uint32_t LINE_PITCH = C331_REG(0x16, 0x31, 1);
constexpr uint32_t BUF_INDICES = C331_REG(0x16, 0x66, 3);
// Chip-wide, one per input channel (sub-address + channel).
constexpr uint32_t PACKING = C331_REG(0x00, 0x71, 1);

constexpr int32_t NO_SHRINK = 0x10000;
// Pixel clocks between the sync the capture counts from and the first pixel.
constexpr int32_t CAPTURE_DELAY = 7;
// Overlap of the two halves of a line that the packed modes can take.
constexpr int32_t PACKED_OVERLAP = 2;

// What one input channel is programmed with.
struct IchSetup {
    IchCapture cap = {0, 0, 0, 0};
    uint8_t flags = 0;                          // phase flags
    uint8_t scaler = 0;                         // 2 plain window, 0 one-to-one
    uint8_t hctrl = 0, vctrl = 0;
    int32_t hratio = 0, vratio = 0;
    uint8_t hphase = 0, vphase = 0;
};

// The horizontal share of the two channels of a window.
struct Halves {
    int32_t start[2] = {0, 0};
    int32_t width[2] = {0, 0};
    int32_t phase[2] = {0, 0};
    bool flag[2] = {false, false};
    int64_t offset[2] = {0, 0};   // byte offset of each channel inside a line
};

int32_t shrink_ratio(int32_t in, int32_t out)
{
    if (out >= 1 && in > out && in > 1)
        return static_cast<int32_t>((int64_t(out - 1) * 65536) / (in - 1) + 1);
    return NO_SHRINK;
}

// Initial phase of a shrink that starts `st` pixels (lines) into the input;
// 256 counts as 0.
int32_t initial_phase(int32_t st, int32_t len, int32_t ratio)
{
    if (len <= 0 || st < 1)
        return 0;
    const uint32_t frac = static_cast<uint32_t>(int64_t(st) * ratio) & 0xFFFF;
    const int32_t ph = 256 - static_cast<int32_t>(frac / 256);
    return ph == 256 ? 0 : ph;
}

int64_t ceil_div(int64_t a, int64_t b)
{
    return a >= 0 ? (a + b - 1) / b : a / b;   // truncation is the ceiling below 0
}

// Pixels that round a run of n up to a multiple of 3 (packing mode 2).
int32_t round3(int64_t n) { return static_cast<int32_t>((3 - n % 3) % 3); }

// Capture split of a line: two halves of W pixels (X moves the split), or one
// channel taking the whole line.
Halves capture_split(int32_t W, int32_t S, int32_t X, bool halves)
{
    Halves h;
    const int32_t d = CAPTURE_DELAY;
    if (!halves) {
        h.start[0] = S + X - d;
        h.width[0] = W;
    } else if (X >= W) {
        h.start[0] = S + W - d;
        h.start[1] = S + (X - W) - d;
        h.width[1] = 2 * W;
    } else if (X > -W) {
        h.start[0] = S + X - d;
        h.width[0] = W - X;
        h.start[1] = S - d;
        h.width[1] = W + X;
    } else {
        h.start[0] = S - W - d;
        h.width[0] = 2 * W;
        h.start[1] = S - d;
    }
    return h;
}

// Initial phase and phase flag of the second channel of a shrunk line whose
// first channel takes w0p pixels and the second `rest`.
void second_phase(Halves &h, int32_t hr, int32_t ph, int64_t w0p, int64_t rest)
{
    // Phase arithmetic of the scaler is 32-bit: the masks keep its wrap.
    const uint32_t u = static_cast<uint32_t>(int64_t(hr) * w0p + 256 * ph);
    const uint32_t sum = static_cast<uint32_t>(int64_t(hr) * (w0p + rest - 1) + 256 * ph);
    const uint32_t round = ((u >> 7) & 1) || (sum & 0xFFFF) < (u & 0xFF) ? 1 : 0;
    const uint32_t phase = (u & 0xFFFF) / 256 + round;
    h.phase[1] = static_cast<int32_t>(phase & 0xFF);
    h.flag[1] = phase != 256 && (u & 0xFFFF) >= static_cast<uint32_t>(hr);
}

void write_capture(c331_drv &d, int fd, int ch, const IchSetup &s)
{
    const std::pair<uint32_t, uint32_t> regs[] = {
        {CAP_HST, s.cap.hst}, {CAP_HW, s.cap.hw}, {CAP_VST, s.cap.vst}, {CAP_VW, s.cap.vw},
        {PHASE_FLAGS, s.flags}, {HSHRNK_CTRL, s.hctrl}, {HSHRNK_RATIO, s.hratio},
        {VSHRNK_CTRL, s.vctrl}, {VSHRNK_RATIO, s.vratio}, {SCALER_MODE, s.scaler},
        {HPHASE_A, s.hphase}, {HPHASE_B, s.hphase}, {VPHASE_A, s.vphase}, {VPHASE_B, s.vphase},
    };
    for (const auto &r : regs)
        d.write_C331(fd, r.first, r.second, 16 * ch);
}

// Frame buffers of a channel: the five buffers plus the channel's byte offset
// in the line. Chip addresses are 32-bit and wrap like the chip's.
void write_memory(c331_drv &d, int fd, int ch, const uint32_t *buffers, int64_t offset, int32_t pitch,
                  uint32_t indices)
{
    const int off = 16 * ch;
    for (int k = 0; k < 5; ++k)
        d.write_C331(fd, FRAME_BUF + (uint32_t(4 * k) << 8), buffers[k] + static_cast<uint32_t>(offset), off);
    d.write_C331(fd, LINE_PITCH, static_cast<uint32_t>(pitch), off);
    d.write_C331(fd, BUF_INDICES, indices, off);
}

// The channels' share of a line shrunk by hr (0x10000: not shrunk): their
// phases, the pixels the first channel takes beyond its half so that the
// second can start on a whole output pixel, and their byte offsets in a line.
// A shrink can change the window's packing `mode`, at most once: the packed
// modes take an overlap of at most two pixels, and the overlap does not
// depend on the packing, so one change settles it.
void share_line(Halves &h, const _ImageWindowDef_st &iwin, int32_t hr, bool halves, int32_t preferred,
                int32_t &mode, int w)
{
    const int32_t w0 = h.width[0];
    if (hr >= NO_SHRINK) {
        h.offset[1] = c331_manage::packed_size(mode, w0);
        h.offset[0] = mode == 2 ? 2 * round3(w0) : 0;
        return;
    }
    const int32_t ph = initial_phase(iwin.HST, iwin.HW, hr);
    h.phase[0] = ph;
    h.flag[0] = ph != 0;
    if (!halves)
        return;
    // Output pixels the first channel produces, rounded up to even, and the
    // input pixels it needs for them.
    const int64_t N = (int64_t(hr) * (w0 - 1) + (h.flag[0] ? 0 : 65536) + 256 * ph) / 65536;
    const int64_t Ne = N + (N & 1);
    const int64_t need = ceil_div((Ne - 1) * 65536, hr);
    const int64_t w0p = std::max<int64_t>(need + 1, w0);
    const int32_t ov = static_cast<int32_t>(w0p - w0);
    if (mode == 0 && preferred != 0 && ov <= PACKED_OVERLAP) {
        mode = preferred;
        debugPrint("[set_display_window_ich] win_%d overlap %d: packing %d\n", w, ov, mode);
    } else if (mode != 0 && ov > PACKED_OVERLAP) {
        mode = 0;
        debugPrint("[set_display_window_ich] win_%d overlap %d: packing 0\n", w, ov);
    }
    if (mode == 0) {
        // Packing 0 does not use the overlap: the halves keep their capture.
        second_phase(h, hr, ph, w0, w0);
        h.offset[1] = 4 * N;
        return;
    }
    h.width[0] = static_cast<int32_t>(w0p);
    h.start[1] += ov;
    h.width[1] = w0 - ov;
    second_phase(h, hr, ph, w0p, w0 - ov);
    h.offset[1] = c331_manage::packed_size(mode, Ne);
    h.offset[0] = mode == 2 ? 2 * round3(Ne) : 0;
}

} // namespace

int64_t c331_manage::packed_size(int mode, int64_t n)
{
    switch (mode) {
    case 1: return 16 * (n / 5) + 3 * (n % 5);
    case 2: return (n + round3(n)) * 8 / 3;
    case 3: return 2 * n;
    default: return 4 * n;
    }
}

uint8_t c331_manage::packing_value(int mode)
{
    static const uint8_t values[4] = {0x00, 0x80, 0x01, 0x11};
    return mode >= 0 && mode < 4 ? values[mode] : 0x00;
}

int c331_manage::ich_count(int w) const
{
    int n = 0;
    while (n < ICH_NUM && win_ich[w][n] != -1)
        ++n;
    return n;
}

void c331_manage::set_display_window_ich(int fd, _ImageWindowDef_st iwin, _ImageWindowDef_st owin, int w)
{
    if (!zemApi_IsWinValid(w))
        return;
    const int n = ich_count(w);
    const int ch0 = win_ich[w][0];
    const int p = PM_INPUT[w];
    // No channel, or no port to capture from: nothing to program.
    if (n == 0 || ch0 < 0 || ch0 >= ICH_NUM || !is_port(p))
        return;
    // The pair is ch0 and ch0 + 1; the last channel has no partner.
    const bool pair = n >= 2 && ch0 + 1 < ICH_NUM;
    const bool halves = PI_STATE[p] < 4;
    const int pairMode = !pair || !halves ? 0 : PI_HDMI_INFO[p].lane < 5 ? 2 : 1;
    PM_MEM_WMODE[w] = PI_SCAN_MODE[p] ? 2 : PS_MEM_WMODE[w];

    const int32_t hr = shrink_ratio(iwin.HW, owin.HW);
    const int32_t vr = shrink_ratio(iwin.VW, owin.VW);
    Halves h = capture_split(PI_ACT[p].hw, PI_ACT[p].hst, PM_IACTHST[w], halves);
    share_line(h, iwin, hr, halves, PS_MEM_WMODE[w], PM_MEM_WMODE[w], w);
    const int32_t vph = vr < NO_SHRINK ? initial_phase(iwin.VST, iwin.VW, vr) : 0;

    ich_pair_mode[ch0] = pairMode;
    if (pair)
        ich_pair_mode[ch0 + 1] = pairMode;
    set_idual(fd, ch0, pairMode, p);
    set_ichsel(fd, w);

    c331_drv &d = *c331drv;
    IchSetup s;
    s.cap.vst = PM_IACTVST[w] + PI_ACT[p].vst + 1;
    s.cap.vw = PI_ACT[p].vw;
    s.scaler = 2;
    s.hctrl = hr < NO_SHRINK ? 0xC7 : 0x80;
    s.hratio = hr < NO_SHRINK ? hr : 0;
    s.vctrl = vr < NO_SHRINK ? 0x84 : 0x80;
    s.vratio = vr < NO_SHRINK ? vr : 0;
    s.vphase = static_cast<uint8_t>(vph);
    const uint32_t indices = ring_indices(win_buf_idx[w]);
    for (int half = 0; half < (pair ? 2 : 1); ++half) {
        const int ch = ch0 + half;
        s.cap.hst = h.start[half];
        s.cap.hw = h.width[half];
        s.hphase = static_cast<uint8_t>(h.phase[half]);
        s.flags = static_cast<uint8_t>((h.flag[half] ? 0x80 : 0) | (vph != 0 ? 0x08 : 0));
        // The first channel writes on its own; the second is linked to its
        // pair once it is set up.
        if (half == 0)
            d.write_C331(fd, WRITE_CTRL, 1, 16 * ch);
        write_capture(d, fd, ch, s);
        if (half == 1)
            d.write_C331(fd, WRITE_CTRL, static_cast<uint32_t>((ch0 & ~1) + 8), 16 * ch);
    }
    // Both halves of a line land side by side in the first channel's buffers.
    for (int half = 0; half < (pair ? 2 : 1); ++half)
        write_memory(d, fd, ch0 + half, PS_MEM_SC[ch0], h.offset[half], static_cast<int32_t>(PS_ICH_MEMVAL),
                     indices);

    set_lut_hshrnk(fd, hr, ch0, pair);
    set_lut_vshrnk_4sym(fd, vr, ch0, pair);
    set_iscwct(fd, w);
    set_mct(fd, w, 0);
    set_ip(fd, ch0);
}

void c331_manage::set_display_window_ich_dbd(int fd, int w, int mode)
{
    if (!zemApi_IsWinValid(w))
        return;
    const int n = ich_count(w);
    if (n == 0)
        return;
    for (int k = 0; k < n; ++k)
        set_idual(fd, win_ich[w][k], 0, PM_INPUT[w]);
    if (set_dbd_mem(fd, w) == -1) {
        // No memory for the mosaic: the window's requests are dropped.
        g_chg_input[w] = 0;
        g_chg_dbd[w] = 0;
        set_mct(fd, w, 0);
        return;
    }
    set_ichsel(fd, w);
    set_dbd_channels(fd, w, mode);
}

// Capture of a port's picture; `half` takes one of the two halves of a line
// that arrives in two.
IchCapture c331_manage::capture_of(const ST_ACT &D, bool half)
{
    if (half)
        return IchCapture{D.hst / 2 - CAPTURE_DELAY, D.hw / 2, D.vst + 1, D.vw};
    return IchCapture{D.hst - CAPTURE_DELAY, D.hw, D.vst + 1, D.vw};
}

// Capture rectangles of the channels of a mosaic; their number, 0 for a
// mode that is no mosaic.
int c331_manage::dbd_captures(int w, int mode, IchCapture *caps) const
{
    const int p = PM_INPUT[w];
    const bool halves = is_port(p) && PI_STATE[p] < 4;
    auto full = [this](int q) { return capture_of(dbd_rect(q), false); };
    auto half = [this](int q) { return capture_of(dbd_rect(q), true); };
    const IchCapture none{};
    switch (mode) {
    case 1:
        if (!is_port(p))
            return 0;
        if (p < 4 || !halves) {
            caps[0] = full(p);
            caps[1] = none;
            return p < 4 ? 1 : 2;
        }
        caps[0] = caps[1] = half(p);
        return 2;
    case 20: case 21: caps[0] = full(0); caps[1] = full(1); return 2;
    case 22: case 23: caps[0] = full(2); caps[1] = full(3); return 2;
    case 30: caps[0] = full(0); caps[1] = full(1); caps[2] = full(2); return 3;
    case 40: case 41:
        for (int q = 0; q < 4; ++q)
            caps[q] = full(q);
        return 4;
    case 50: case 51:
        if (!is_port(p))
            return 0;
        caps[0] = halves ? half(5) : full(5);
        caps[1] = halves ? half(5) : none;
        caps[2] = halves ? half(4) : full(4);
        caps[3] = halves ? half(4) : none;
        return 4;
    default:
        return 0;
    }
}

void c331_manage::set_dbd_channels(int fd, int w, int mode)
{
    if (!zemApi_IsWinValid(w))
        return;
    IchCapture caps[4];
    const int count = dbd_captures(w, mode, caps);
    // Another mode, or a mosaic that needs more channels than the window has.
    if (count == 0 || count > ich_count(w))
        return;
    const int p = PM_INPUT[w];
    const int packing = mode == 1 && PI_SCAN_MODE[p] ? 2 : PS_MEM_WMODE[w];
    PM_MEM_WMODE[w] = packing;
    // Byte offsets inside the window's buffers: side by side after the widths
    // before, or one block of lines lower for the second row.
    const int64_t lead = packing == 2 ? 2 * round3(caps[0].hw) : 0;
    const int64_t block = int64_t(dbd_pitch[w]) * caps[0].vw * 1024;
    int64_t offset[4] = {lead, 0, 0, 0};
    if (mode == 21 || mode == 23) {
        offset[1] = block;
    } else if (mode == 41 || mode == 51) {
        offset[1] = packed_size(packing, caps[0].hw);
        offset[2] = block + (packing == 2 ? 2 * round3(caps[2].hw) : 0);
        offset[3] = offset[1] + block;
    } else {
        int64_t before = caps[0].hw;
        for (int i = 1; i < count; ++i) {
            offset[i] = packed_size(packing, before);
            before += caps[i].hw;
        }
    }

    c331_drv &d = *c331drv;
    const int first = win_ich[w][0];
    const uint32_t indices = ring_indices(win_buf_idx[w]);
    for (int i = 0; i < count; ++i) {
        const int ch = win_ich[w][i];
        if (ch < 0 || ch >= ICH_NUM)
            continue;
        d.write_C331(fd, WRITE_CTRL, i == 0 ? 1u : static_cast<uint32_t>(first + 8), 16 * ch);
        IchSetup one;   // one to one: no shrink
        one.cap = caps[i];
        write_capture(d, fd, ch, one);
        write_memory(d, fd, ch, dbd_mem_addr[w], offset[i], dbd_pitch[w], indices);
        d.write_C331(fd, PACKING + (uint32_t(ch) << 8), packing_value(packing), 0);
    }
    set_mct(fd, w, 0);
}
