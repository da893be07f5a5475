// Picture quality: the colour stage (brightness, contrast, saturation, colour
// matrix) and the sharpness stage of the output channels, and the no-signal
// background once bring-up is over.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"

#include <algorithm>
#include <string>

namespace {

constexpr int OCH_STEP = 16;   // bank distance of two output channels

// Colour stage of an output channel (bank 0x0C + 16n).
constexpr uint32_t BRIGHTNESS_REGS[3] = {0x0C3A02, 0x0C3C02, 0x0C3E02};
constexpr uint32_t CONTRAST_ENABLE = 0x0C2101;
constexpr uint32_t CONTRAST_REGS[3] = {0x0C2802, 0x0C2A02, 0x0C2C02};
constexpr uint32_t SATURATION_ENABLE = 0x0C1401;
constexpr uint32_t SATURATION_REGS[3] = {0x0C1B02, 0x0C1D02, 0x0C1F02};
constexpr uint32_t MATRIX_FIRST = 0x0C5B02;   // 3 x 3 entries, 2 bytes apart
constexpr uint32_t MATRIX_ENABLE_FIRST = 0x005901;   // 0x59..0x60, bit 5 each
constexpr int MATRIX_ENABLE_COUNT = 8;

// Sharpness stage (bank 0x0B + 16n).
constexpr uint32_t SHARP_HMODE = 0x0B0801;
constexpr uint32_t SHARP_HGAIN = 0x0B0901;
constexpr uint32_t SHARP_HCOEF = 0x0B0C01;   // five 1-byte coefficients
constexpr uint32_t SHARP_HMODE2 = 0x0B1101;
constexpr uint32_t SHARP_VGAIN = 0x0B1201;
constexpr uint32_t SHARP_VCOEF = 0x0B1501;   // five 1-byte coefficients
constexpr uint32_t SHARP_VENABLE = 0x0B5E01;
constexpr int SHARP_HMODE_ON = 6;
constexpr int SHARP_GAIN_MAX = 255;          // the gain registers are one byte

// Background plane (bank 0x08 + 16n).
constexpr uint32_t BKG_COLOR = 0x084903;
constexpr uint32_t BKG_ON = 0x084801;

constexpr uint32_t next_sub(uint32_t reg, int k) { return reg + 0x100u * k; }

// Colour-temperature gains in units of 1/8192 for the preset modes 1..3.
constexpr int32_t COLOR_TEMP_GAINS[4][3] = {
    {0, 0, 0},   // mode 0: taken from the word's gain bytes
    {8845, 8113, 7056},
    {8192, 8192, 8192},
    {6944, 8282, 10978},
};

// Sharpness coefficients by the scaling ratio of the window: the first row
// whose ratio bound is below the window's ratio applies.
struct SharpRow {
    float above;
    uint8_t coef[5];
};
constexpr SharpRow H_SHARP[] = {
    {2.5f, {36, 43, 58, 4, 5}},
    {2.0f, {30, 42, 0, 7, 0}},
    {1.25f, {28, 46, 5, 3, 60}},
    {-1.0f, {44, 49, 56, 63, 2}},
};
constexpr SharpRow V_SHARP[] = {
    {2.5f, {42, 48, 59, 0, 0}},
    {2.0f, {34, 47, 0, 0, 0}},
    {1.25f, {28, 45, 5, 0, 0}},
    {-1.0f, {44, 50, 56, 0, 0}},
};
constexpr uint8_t NO_SHARP[5] = {0, 0, 0, 0, 0};

template <size_t N>
const uint8_t *sharp_coef(const SharpRow (&rows)[N], float ratio)
{
    for (const SharpRow &r : rows)
        if (ratio > r.above)
            return r.coef;
    return rows[N - 1].coef;
}

// Output size over input size; a window with no input size is taken as
// unscaled instead of dividing by nothing.
float scale_ratio(int32_t out, int32_t in)
{
    return in > 0 ? static_cast<float>(out) / static_cast<float>(in) : 1.0f;
}

// One window's sharpness: mode, gain and the two coefficient sets.
struct SharpSet {
    int mode;
    int gain;
    const uint8_t *h;
    const uint8_t *v;
};

void write_sharpness(c331_drv &d, int fd, const int *och, int count, const SharpSet &set)
{
    for (int k = 0; k < count; ++k)
        d.write_C331(fd, SHARP_HMODE, set.mode, OCH_STEP * och[k]);
    for (int k = 0; k < count; ++k) {
        for (int j = 0; j < 5; ++j)
            d.write_C331(fd, next_sub(SHARP_HCOEF, j), set.h[j], OCH_STEP * och[k]);
        d.write_C331(fd, SHARP_HGAIN, set.gain, OCH_STEP * och[k]);
    }
    for (int k = 0; k < count; ++k)
        d.write_C331(fd, SHARP_HMODE2, set.mode, OCH_STEP * och[k]);
    for (int k = 0; k < count; ++k) {
        d.write_C331(fd, SHARP_VENABLE, 1, OCH_STEP * och[k]);
        for (int j = 0; j < 5; ++j)
            d.write_C331(fd, next_sub(SHARP_VCOEF, j), set.v[j], OCH_STEP * och[k]);
        d.write_C331(fd, SHARP_VGAIN, set.gain, OCH_STEP * och[k]);
    }
}

// One value into the three registers of a colour stage on every output
// channel, after setting the stage's enable bit when it has one.
void write_stage(c331_drv &d, int fd, uint32_t enable, const uint32_t (&regs)[3], uint32_t data)
{
    for (int n = 0; n < c331_manage::OCH_NUM; ++n) {
        if (enable)
            d.write_c331_mask(fd, enable, 1, 1, OCH_STEP * n);
        for (uint32_t reg : regs)
            d.write_C331(fd, reg, data, OCH_STEP * n);
    }
}

// Levels of 0..100; larger values are taken modulo 101.
int percent(uint16_t value) { return value % 101; }

} // namespace

int c331_manage::win_och_list(int w, int *list) const
{
    if (w < 0 || w >= WIN_NUM)
        return 0;
    const ST_WIN_INFO &wi = gWininfo[w];
    const int n = std::min(wi.och_HCnt * wi.och_VCnt, OCH_NUM);
    int count = 0;
    for (int k = 0; k < n; ++k)
        if (wi.ochLst[k] < OCH_NUM)
            list[count++] = wi.ochLst[k];
    return count;
}

void c331_manage::c331_SetBrightness(uint16_t value)
{
    const int v = percent(value);
    int data = (v - 50) * 1024 / 50;
    if (v < 50)
        data &= 0xFFF;
    debugPrint("\r\n[c331_SetBrightness] %d\n", value);
    debugPrint("\t data:%04x\r\n", data);
    set_rtct(c331_fd, 2);
    write_stage(*c331drv, c331_fd, 0, BRIGHTNESS_REGS, data);
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetContrast(uint16_t value)
{
    const int data = percent(value) * 1023 / 100;
    debugPrint("\r\n[c331_SetContrast] val:%d, data:%d\r\n", value, data);
    set_rtct(c331_fd, 2);
    write_stage(*c331drv, c331_fd, CONTRAST_ENABLE, CONTRAST_REGS, data);
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetSaturation(uint16_t value)
{
    const int data = (percent(value) * 1023 / 100) & 0x7FF;
    debugPrint("[c331_SetSaturation] %d:%04x\r\n", value, data);
    set_rtct(c331_fd, 2);
    write_stage(*c331drv, c331_fd, SATURATION_ENABLE, SATURATION_REGS, data);
    set_rtct(c331_fd, 1);
}

// Word: bits 1..0 mode, bits 31..24, 23..16, 15..8 the three gain bytes of
// mode 0 (128 = unity).
void c331_manage::c331_SetColorTemp(uint32_t word)
{
    debugPrint("[c331_SetColorTemp] %8x\r\n", word);
    const int mode = word & 3;
    int32_t gain[3];
    for (int k = 0; k < 3; ++k)
        gain[k] = mode == 0 ? int32_t((word >> (24 - 8 * k)) & 0xFF) * 64 : COLOR_TEMP_GAINS[mode][k];

    set_rtct(c331_fd, 2);
    for (int k = 0; k < MATRIX_ENABLE_COUNT; ++k)
        c331drv->write_c331_mask(c331_fd, next_sub(MATRIX_ENABLE_FIRST, k), 0x20, 0x20, 0);
    for (int n = 0; n < OCH_NUM; ++n)
        for (int e = 0; e < 9; ++e) {
            const int32_t v = e % 4 == 0 ? gain[e / 4] : 0;   // the diagonal
            c331drv->write_C331(c331_fd, next_sub(MATRIX_FIRST, 2 * e), v, OCH_STEP * n);
        }
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetSharpness(uint16_t value)
{
    const int s = value > 9 ? value - 10 : 0;
    // The gain grows with the sharpness up to what its one-byte register holds.
    const int gain = std::min(static_cast<int>(s * 12.8f), SHARP_GAIN_MAX);
    const int mode = s > 0 ? SHARP_HMODE_ON : 0;
    debugPrint("[c331_SetSharpness] :%04x\r\n", value);

    c331drv->write_c331_mask(c331_fd, CONTRAST_ENABLE, 1, 1, 0);
    const int wins = std::min(gMwin.count, WIN_NUM);
    for (int w = 0; w < wins; ++w) {
        const int p = PM_INPUT[w];
        if (port_state(p) == 0)
            continue;
        int och[OCH_NUM];
        const int count = win_och_list(w, och);
        const float h = scale_ratio(OWIN[w].HW, IWIN[w].HW);
        const float v = scale_ratio(OWIN[w].VW, IWIN[w].VW * (port_interlaced(p) ? 2 : 1));
        const uint8_t *hc = s > 0 ? sharp_coef(H_SHARP, h) : NO_SHARP;
        const uint8_t *vc = s > 0 ? sharp_coef(V_SHARP, v) : NO_SHARP;

        set_rtct(c331_fd, 2);
        write_sharpness(*c331drv, c331_fd, och, count, SharpSet{mode, gain, hc, vc});
        set_rtct(c331_fd, 1);
    }
}

// End of bring-up: the forced background gives way to the no-signal
// background of each window.
void c331_manage::zemApi_forceColorDisable(int fd)
{
    g_force_bkcolor = 2;
    debugPrint("[zemApi_forceColorDisable]");
    for (int n = 0; n < OCH_NUM; ++n)
        c331drv->write_C331(fd, BKG_COLOR, 0, OCH_STEP * n);
    const int wins = std::min(gMwin.count, WIN_NUM);
    for (int w = 0; w < wins; ++w) {
        int och[OCH_NUM];
        const int count = win_och_list(w, och);
        const int on = port_nosignal(PM_INPUT[w]) ? 1 : 0;
        std::string channels;   // one diagnostic line per window
        for (int k = 0; k < count; ++k) {
            channels += std::to_string(och[k]) + " ";
            c331drv->write_C331(fd, BKG_ON, on, OCH_STEP * och[k]);
        }
        debugPrint("\t win_%d, oimgct:%d,och:\t%s", w, count, channels.c_str());
    }
}
