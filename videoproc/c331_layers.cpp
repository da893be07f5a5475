// Window layers: the stacking order of the output channels in each layer
// mixer, opaque blending, the frame-by-frame fades of a window, and the wait
// for the next output frame that paces them.

#include "videoproc/c331_manage.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t LAYER_ORDER = 0x0E0904;     // per mixer: nibble n = 8 + channel of layer n
constexpr uint32_t COEF_PAGE = 0x0E0F02;       // per mixer
constexpr uint32_t FADE_LATCH_A = 0x002201;
constexpr uint32_t FADE_LATCH_B = 0x002301;
constexpr uint32_t FRAME_SELECT = 0x050901;    // output channels whose frame is awaited
constexpr uint32_t FRAME_ENABLE = 0x002901;
constexpr uint32_t FRAME_STATUS = 0x052301;
constexpr int FADED_MIXERS = 4;                // mixers 0..3 blend; their combinations have four layers
constexpr int COMBINATIONS = 16;
constexpr uint32_t FULL_WEIGHT = 0x80;
// Reads of the frame status after the first, one millisecond apart (about 70 s).
constexpr int FRAME_WAIT_READS = 70000;

// Blend coefficient of layer combination c for the background (k = 0) or
// layer i (k = i + 1), per mixer.
uint32_t coef_reg(int c, int k) { return C331_REG(0x0E, 0x11 + 5 * c + k, 1); }

// Highest layer present in combination c below layer n, or -1 (background).
int layer_below(int c, int n)
{
    for (int i = n - 1; i >= 0; --i)
        if (c & (1 << i))
            return i;
    return -1;
}

uint32_t page_value(int page) { return page == 0 ? 0 : page == 1 ? 0x100 : 0x200; }

} // namespace

// Records the window's layer; the mixers are programmed by c331_SetWinPriority1.
void c331_manage::c331_SetWinPriority(int win, int pri)
{
    if (win >= 0 && win < WIN_NUM)
        gWininfo[win].layer = static_cast<uint8_t>(pri & 0xFF);
}

void c331_manage::c331_SetWinPriority1(int fd)
{
    for (int w = 0; w < WIN_NUM; ++w)
        PM_OVERLAY_PRI[w] = w < gMwin.count ? 5 - gWininfo[w].layer : 0;
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}

void c331_manage::update_overlay_info()
{
    for (int w = 0; w < WIN_NUM; ++w) {
        std::fill(std::begin(win_ochs[w]), std::end(win_ochs[w]), -1);
        int n = 0;
        for (int j = 0; j < OCH_NUM; ++j)
            if (PM_WIN_NUM[j] == w)
                win_ochs[w][n++] = j;
    }

    // A channel that shows no window sorts as the lowest priority.
    auto key = [this](int j) {
        const int w = PM_WIN_NUM[j];
        return w >= 0 && w < WIN_NUM ? PM_OVERLAY_PRI[w] : 0;
    };
    for (int g = 0; g < OCH_NUM; ++g) {
        int32_t *layer = g_och_layer[g];
        int &count = g_och_layer_cnt[g];
        std::fill(layer, layer + OCH_NUM, -1);
        count = 0;
        for (int j = 0; j < OCH_NUM && count < OCH_NUM; ++j)
            if (PM_OVERLAY[j] == g + 1)
                layer[count++] = j;
        // Exchange sort, bottom layer first: equal keys keep the order the
        // exchanges leave them in.
        for (int a = 0; a < count; ++a)
            for (int b = a + 1; b < count; ++b)
                if (key(layer[b]) < key(layer[a]))
                    std::swap(layer[a], layer[b]);
    }
}

void c331_manage::set_overlay(int fd)
{
    for (int g = 0; g < OCH_NUM; ++g) {
        uint32_t order = 0;
        for (int n = 0; n < g_och_layer_cnt[g]; ++n)
            order |= uint32_t(8 + g_och_layer[g][n]) << (4 * n);
        c331drv->write_C331(fd, LAYER_ORDER, order, 16 * g);
    }
}

// Every mixer shows its top layer opaque: in each combination only the
// highest present layer (or, with none, the background) has full weight.
void c331_manage::reset_layer_coef(int fd, int page)
{
    for (int g = 0; g < FADED_MIXERS; ++g) {
        const uint32_t v = g_och_layer_cnt[g] > 0 ? FULL_WEIGHT : 0;
        for (int c = 0; c < COMBINATIONS; ++c) {
            const int opaque = c == 0 ? 0 : layer_below(c, 4) + 1;
            for (int k = 0; k < 5; ++k)
                c331drv->write_C331(fd, coef_reg(c, k), k == opaque ? v : 0, 16 * g);
            c331drv->write_C331(fd, COEF_PAGE, page_value(page), 16 * g);
        }
    }
}

// Fades window `win` in (dir 1) or out (dir 0) over `cnt` output frames: cnt
// + 1 steps, one per frame, moving the window's weight and that of the layer
// below it linearly between 0 and full. A chip that stops reporting output
// frames ends the fade at once with the last step.
void c331_manage::set_layer_coef(int fd, int win, int cnt, int dir)
{
    if (cnt < 0)
        return;
    bool frames = true;
    for (int s = 0; s <= cnt; ++s) {
        const int t = cnt == 0 ? 128 : s * 128 / cnt;
        const uint32_t a = static_cast<uint32_t>(dir ? t : 128 - t);
        const uint32_t b = 128 - a;
        c331drv->write_C331(fd, FADE_LATCH_A, 255, 0);
        c331drv->write_C331(fd, FADE_LATCH_B, 255, 0);
        for (int g = 0; g < FADED_MIXERS; ++g) {
            const int32_t *layer = g_och_layer[g];
            int n = -1;
            for (int j = 0; j < g_och_layer_cnt[g]; ++j)
                if (PM_WIN_NUM[layer[j]] == win)
                    n = j;
            if (n < 0)
                continue;
            c331drv->write_C331(fd, COEF_PAGE, n < 4 ? 0 : n == 4 ? 0x100 : 0x200, 16 * g);
            n = std::min(n, 3);
            for (int c = 1; c < (2 << n); ++c) {
                if (!(c & (1 << n)))
                    continue;
                c331drv->write_C331(fd, coef_reg(c, n + 1), a, 16 * g);
                c331drv->write_C331(fd, coef_reg(c, layer_below(c, n) + 1), b, 16 * g);
            }
        }
        c331drv->write_C331(fd, FADE_LATCH_A, 169, 0);
        c331drv->write_C331(fd, FADE_LATCH_B, 203, 0);
        if (frames)
            frames = wait_och_frame(fd, 0);
        if (!frames && s < cnt - 1)
            s = cnt - 1;
    }
}

void c331_manage::wait1_povs(int fd, int och)
{
    wait_och_frame(fd, och);
}

bool c331_manage::wait_och_frame(int fd, int och)
{
    if (och < 0 || och >= OCH_NUM)
        return true;
    const uint32_t mask = 1u << och;
    c331drv->write_C331(fd, FRAME_SELECT, mask, 0);
    c331drv->write_C331(fd, FRAME_ENABLE, 0x80, 0);
    uint32_t status = c331drv->read_C331(fd, FRAME_STATUS, 0);
    for (int reads = 0; (mask & ~status) && reads < FRAME_WAIT_READS; ++reads) {
        Sleep(1);
        status = c331drv->read_C331(fd, FRAME_STATUS, 0);
    }
    c331drv->write_C331(fd, FRAME_SELECT, 0, 0);
    c331drv->write_C331(fd, FRAME_ENABLE, 0, 0);
    return (mask & ~status) == 0;
}
