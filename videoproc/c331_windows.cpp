// Window output sequence: the one pass that re-programs the window pipeline
// (input channels, output channels, layers) after anything that changes what
// a window shows or where, with the picture held or the changing window faded
// meanwhile, and the output-channel lists of a window.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Per input channel (channel offset 16 x channel).
constexpr uint32_t CAP_HW = C331_REG(0x10, 0x19, 2);
constexpr uint32_t WRITE_CTRL = C331_REG(0x10, 0x09, 1);
constexpr uint32_t BUF_INDICES = C331_REG(0x16, 0x66, 3);
// Per output channel.
constexpr uint32_t OUT_HW = C331_REG(0x08, 0x42, 2);
constexpr uint32_t READ_INDICES = C331_REG(0x16, 0x6C, 2);
// Chip-wide, one per input channel.
constexpr uint32_t channel_hold(int ch) { return C331_REG(0x00, 0x08 + ch, 1); }

constexpr uint32_t WRITE_ON = 1;
constexpr uint32_t WRITE_STOP = 2;
constexpr uint32_t HOLD = 1;
// Passes over the other windows' writers while they catch up with the first.
constexpr int FREEZE_PASSES = 251;
// Widest window line the output interface mode 2 takes in one piece.
constexpr int32_t WIDE_LIMIT = 2176;
constexpr int32_t VBOTX_WIDE_LIMITED = 2;

bool valid_ich(int ch) { return ch >= 0 && ch < c331_manage::ICH_NUM; }

// Writer slot in a write-status byte.
int write_slot(uint32_t status) { return static_cast<int>((status >> 2) & 3); }

// Read indices of an output channel reading ring entries 3, 0, 1, 2.
uint32_t read_indices(const uint8_t *ring)
{
    return uint32_t(ring[3] & 7) | uint32_t(ring[0] & 7) << 4 | uint32_t(ring[1] & 7) << 8 |
           uint32_t(ring[2] & 7) << 12;
}

} // namespace

uint32_t c331_manage::ring_indices(const uint8_t *ring)
{
    uint32_t v = 0;
    for (int k = 0; k < 5; ++k)
        v |= uint32_t(ring[k] & 7) << (4 * k);
    return v;
}

bool c331_manage::has_change(int w) const
{
    return g_chg_input[w] != 0 || g_chg_dbd[w] != 0 || g_chg_win[w] != 0;
}

void c331_manage::set_output(int fd)
{
    note_call("set_output()");
    for (int w = 0; w < WIN_NUM; ++w)
        reset_ich(w);
    take_input_channels();

    const int faded = fade_window();
    if (faded >= 0)
        set_layer_coef(fd, faded, PM_WIN_FADE_OUT[faded], 0);
    else
        set_freeze(fd, 1);

    const uint8_t programmed = program_input_side(fd);
    reset_act(fd, 0);
    wait1_pivs2(fd);
    wait1_pivs2(fd);
    set_rtct(fd, 2);

    program_output_side(fd);
    if (g_chg_overlay || g_chg_stitching) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        g_chg_overlay = 0;
        g_chg_stitching = 0;
    }
    reset_act(fd, 1);

    if (faded >= 0)
        set_layer_coef(fd, faded, PM_WIN_FADE_IN[faded], 1);
    else
        set_freeze(fd, 0);
    set_rtct(fd, 1);

    std::memcpy(PM_WIN_NUM_prev, PM_WIN_NUM, sizeof(PM_WIN_NUM_prev));
    std::memcpy(win_ich_prev, win_ich, sizeof(win_ich_prev));
    for (int w = 0; w < WIN_NUM; ++w)
        if (PM_WIN_DBD_MODE[w] <= 0 || (PM_WIN_DBD_MODE[w] == 1 && check_dbd_input(PM_INPUT[w]) == 0))
            reset_dbd_mem(w);

    keep_user_freezes(fd, programmed);
    consume_port_updates(programmed);
    for (int w = 0; w < WIN_NUM; ++w)
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = g_chg_attr[w] = win_update_level[w] = 0;
}

// Windows with a new input, a new dot-by-dot set-up, or a new layout and no
// input channel yet get their channels; one that cannot have any drops its
// input and dot-by-dot requests (a window moved by another keeps the channels
// it was moved to).
void c331_manage::take_input_channels()
{
    for (int w = 0; w < WIN_NUM; ++w) {
        const bool wanted = g_chg_input[w] == 1 || g_chg_dbd[w] != 0 || (g_chg_win[w] != 0 && win_ich[w][0] == -1);
        if (wanted && set_input(w, PM_INPUT[w]) == 2)
            g_chg_input[w] = g_chg_dbd[w] = 0;
    }
}

// The window to fade instead of holding the picture: exactly one window
// changes its source, with fading on, and nothing else changes; -1 otherwise.
int c331_manage::fade_window() const
{
    int count = 0, faded = -1;
    bool other = false;
    for (int w = 0; w < WIN_NUM; ++w) {
        if (g_chg_input[w] == 1 && PM_WIN_FADE_EN[w]) {
            ++count;
            faded = w;
        }
        other = other || g_chg_input[w] == 2 || g_chg_dbd[w] == 1 || g_chg_win[w] == 1 ||
                (g_chg_input[w] == 1 && !PM_WIN_FADE_EN[w]);
    }
    return count == 1 && !other && !g_chg_overlay ? faded : -1;
}

// The input side of every changed window; the windows programmed, one bit each.
uint8_t c331_manage::program_input_side(int fd)
{
    uint8_t programmed = 0;
    for (int w = 0; w < WIN_NUM; ++w) {
        const bool changed = has_change(w);
        if (changed) {
            calc_iwin2(w);
            calc_owin2(w);
        }
        // A window whose output side alone is programmed (a new mirror)
        // reads as its rectangles call for too.
        set_read_markers(w, changed || g_chg_attr[w]);
        if (!changed)
            continue;
        programmed = static_cast<uint8_t>(programmed | 1u << w);
        if (PM_WIN_DBD_MODE[w] != 0) {
            set_display_window_ich_dbd(fd, w, PM_WIN_DBD_MODE[w]);
            continue;
        }
        _ImageWindowDef_st out = OWIN[w];
        if (win_wide[w])
            out.HW = WIDE_LIMIT;
        set_display_window_ich(fd, IWIN[w], out, w);
    }
    return programmed;
}

// The output-read markers of a window the pass programs, from its
// rectangles; those of the other windows stay at their defaults. Under
// output interface mode 2 a window zoomed vertically reads its lines
// differently, and one wider than that interface takes is carried at its
// width from the input side to the output side.
void c331_manage::set_read_markers(int w, bool programmed)
{
    och_mark[w] = 1;
    win_wide[w] = 0;
    if (!programmed || PM_WIN_DBD_MODE[w] != 0 || PS_VBOTX_MODE != VBOTX_WIDE_LIMITED || IWIN[w].VW >= OWIN[w].VW)
        return;
    const int32_t H = IWIN[w].HW > WIDE_LIMIT ? OWIN[w].HW : IWIN[w].HW;
    och_mark[w] = 0;
    win_wide[w] = H > WIDE_LIMIT ? 1 : 0;
}

void c331_manage::program_output_side(int fd)
{
    for (int w = 0; w < WIN_NUM; ++w) {
        if (!has_change(w) && !g_chg_attr[w])
            continue;
        _ImageWindowDef_st in = IWIN[w];
        if (PS_VBOTX_MODE == VBOTX_WIDE_LIMITED && win_wide[w])
            in.HW = WIDE_LIMIT;
        set_display_window_och(fd, in, OWIN[w], w);
        set_input_bkg2(fd, w, 0);
    }
}

// A window the user froze stays frozen when the pass has written its input
// channels anew (which starts their writers).
void c331_manage::keep_user_freezes(int fd, uint8_t programmed)
{
    for (int w = 0; w < WIN_NUM; ++w)
        if ((programmed & (1u << w)) && (gWininfo[w].outmode & 2))
            win_freeze_sel(fd, w, 2);
}

// A port whose new timing was taken by the input check of a source change
// needs no pass of its own once every window showing it has been programmed
// in this one.
void c331_manage::consume_port_updates(uint8_t programmed)
{
    for (int p = 0; p < PORT_NUM; ++p) {
        if (!PI_UPDATE[p] || g_chg_hdmi[p])
            continue;
        bool all = true, any = false;
        for (int w = 0; w < WIN_NUM; ++w) {
            if (!window_shows_port(w, p))
                continue;
            any = true;
            all = all && (programmed & (1u << w)) && g_chg_input[w] == 1;
        }
        if (any && all) {
            PI_UPDATE[p] = 0;
            g_c331_source_online = 1;
        }
    }
}

void c331_manage::reset_act(int fd, int mode)
{
    if (mode == 0 || mode == 2)
        for (int k = 0; k < ICH_NUM; ++k)
            if (ich_owner[k] == -1)
                c331drv->write_C331(fd, CAP_HW, 0, 16 * k);
    if (mode != 1 && mode != 2)
        return;
    for (int j = 0; j < OCH_NUM; ++j) {
        const int w = PM_WIN_NUM[j];
        const bool used = w >= 0 && w < WIN_NUM && PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1] > 0 &&
                          PM_AREA_NUM[j] < PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1];
        if (!used)
            c331drv->write_C331(fd, OUT_HW, 0, 16 * j);
    }
}

void c331_manage::set_freeze(int fd, int on)
{
    if (on == 1)
        freeze_hold(fd);
    else
        freeze_release(fd);
}

// Holds the picture of every changed window on its last complete frame: the
// writers stop in step with the first window's, the first window's ring
// turns the frame last written into the spare, and the outputs read only it.
void c331_manage::freeze_hold(int fd)
{
    int listed[WIN_NUM], ch[WIN_NUM], n = 0;
    for (int w = 0; w < WIN_NUM; ++w) {
        if (!has_change(w))
            continue;
        listed[n] = w;
        ch[n++] = win_ich_prev[w][0] >= 0 ? win_ich_prev[w][0] : win_ich[w][0];
    }
    set_rtct(fd, 0);
    if (n == 0 || !valid_ich(ch[0]))
        return;

    c331drv->write_C331(fd, WRITE_CTRL, WRITE_STOP, 16 * ch[0]);
    const int s = write_slot(c331drv->read_C331(fd, C331_ICH_WRITE_STATUS(ch[0]), 0));
    bool stopped[WIN_NUM] = {true};
    for (int pass = 0; n > 1 && pass < FREEZE_PASSES; ++pass) {
        int mismatches = 0;
        for (int k = 1; k < n; ++k) {
            if (stopped[k])
                continue;
            // A window without a channel has no writer to stop.
            if (!valid_ich(ch[k]) || write_slot(c331drv->read_C331(fd, C331_ICH_WRITE_STATUS(ch[k]), 0)) == s) {
                if (valid_ich(ch[k]))
                    c331drv->write_C331(fd, WRITE_CTRL, WRITE_STOP, 16 * ch[k]);
                stopped[k] = true;
            } else {
                ++mismatches;
            }
        }
        if (mismatches == 0)
            break;
    }

    for (int k = 0; k < n; ++k)
        for (int i = 0; i < ICH_NUM && valid_ich(win_ich_prev[listed[k]][i]); ++i)
            c331drv->write_C331(fd, channel_hold(win_ich_prev[listed[k]][i]), HOLD, 0);
    wait1_povs(fd, 0);

    uint8_t *ring = win_buf_idx[listed[0]];
    std::swap(ring[(s + 3) % 4], ring[4]);
    const uint32_t indices = ring_indices(ring);
    for (int k = 0; k < n; ++k) {
        const int w = listed[k];
        for (int i = 0; i < ICH_NUM && valid_ich(win_ich[w][i]); ++i)
            c331drv->write_C331(fd, BUF_INDICES, indices, 16 * win_ich[w][i]);
        std::copy(ring, ring + 5, win_buf_idx[w]);
        win_frozen[w] = 1;
    }

    const uint32_t spare = ring[4] & 7;
    for (int j = 0; j < OCH_NUM; ++j)
        if (std::find(listed, listed + n, PM_WIN_NUM_prev[j]) != listed + n)
            c331drv->write_C331(fd, READ_INDICES, spare * 0x1111, 16 * j);
}

// Every output reads its window's ring again (a stitched window the ring of
// its group's master), one slot behind the writers.
void c331_manage::freeze_release(int fd)
{
    for (int w = 0; w < WIN_NUM; ++w) {
        const int m = zemApi_IsWinValid(PM_WIN_STITCHING[w]) ? PM_WIN_STITCHING[w] : w;
        const uint32_t indices = read_indices(win_buf_idx[m]);
        for (int j = 0; j < OCH_NUM; ++j)
            if (PM_WIN_NUM[j] == w)
                c331drv->write_C331(fd, READ_INDICES, indices, 16 * j);
        win_frozen[w] = 0;
    }
}

// Output channels of a window by area number: list[a] is the channel that
// draws area a of the window, -1 when none does.
void c331_manage::get_och(int win, int32_t *list)
{
    for (int a = 0; a < OCH_NUM; ++a)
        list[a] = -1;
    for (int j = 0; j < OCH_NUM; ++j) {
        const int a = PM_AREA_NUM[j];
        if (PM_WIN_NUM[j] == win && a >= 0 && a < OCH_NUM && list[a] < 0)
            list[a] = j;
    }
}

void c331_manage::win_freeze_sel(int fd, int win, int on)
{
    if (!zemApi_IsWinValid(win) || !valid_ich(win_ich[win][0]))
        return;
    c331drv->write_C331(fd, WRITE_CTRL, (on & 2) ? WRITE_STOP : WRITE_ON, 16 * win_ich[win][0]);
}
