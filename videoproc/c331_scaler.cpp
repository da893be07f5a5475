// Scaler filter tables: the chip's built-in tables chosen by scaling ratio
// and loaded into a filter by naming table and destination, the four-tap
// vertical shrink coefficients written register by register, and the input
// channels' scan-conversion mode.

#include "videoproc/c331_manage.h"

namespace {

// Naming a built-in table, then writing a destination code, loads the table
// last named into that filter.
constexpr uint32_t LUT_TABLE = C331_REG(0x00, 0x79, 1);
constexpr uint32_t LUT_DEST = C331_REG(0x00, 0x7A, 1);
// Four-tap vertical shrink coefficients of input channel 0 (24 bytes).
constexpr uint32_t VSHRNK_COEF = C331_REG(0x11, 0x68, 1);
constexpr uint32_t ISCWCT = C331_REG(0x00, 0x71, 1);

constexpr int HZOOM_TABLE = 46;
constexpr int NO_SHRINK_TABLE = 44;

struct Band {
    int32_t bound;
    int32_t pick;
};

// Built-in table by shrink ratio: the first band whose upper bound holds it.
const Band TABLE_BY_RATIO[] = {
    {13107, 1}, {26214, 2}, {32768, 4}, {39321, 6}, {45875, 8}, {49152, 12},
    {52428, 17}, {55705, 22}, {58982, 27}, {62259, 32}, {65000, 38},
};

// Coefficient row by shrink ratio: the first band whose lower bound it reaches.
const Band ROW_BY_RATIO[] = {
    {62260, 9}, {58983, 8}, {52429, 7}, {45876, 6}, {39322, 5},
    {32769, 4}, {26215, 3}, {13108, 2},
};

int table_for(int ratio)
{
    if (ratio <= 0)
        return NO_SHRINK_TABLE;
    for (const Band &b : TABLE_BY_RATIO)
        if (ratio <= b.bound)
            return b.pick;
    return NO_SHRINK_TABLE;
}

int row_for(int ratio)
{
    for (const Band &b : ROW_BY_RATIO)
        if (ratio >= b.bound)
            return b.pick;
    return 1;
}

bool is_ich(int ich) { return ich >= 0 && ich < c331_manage::ICH_NUM; }

} // namespace

const int32_t c331_manage::lut[10][24] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 15, 15, 15, 15, 15, 15, 16, 21, 16, 16, 16, 17, 18, 18, 17, 22},
    {0, 0, 0, 0, 0, 0, 0, 0, 13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24},
    {0, 0, 0, 0, 0, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 20, 17, 17, 18, 19, 20, 21, 21, 24},
    {0, 0, 0, 0, 0, 0, 0, 0, 6, 8, 9, 11, 12, 14, 15, 19, 18, 19, 20, 21, 23, 23, 25, 26},
    {0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 5, 8, 10, 12, 15, 17, 19, 21, 22, 24, 27, 28, 29, 30},
    {0, 0, 0, 0, 0, 0, 0, 0, 253, 255, 0, 3, 6, 10, 13, 16, 20, 23, 26, 29, 32, 32, 34, 32},
    {0, 0, 0, 0, 0, 0, 0, 0, 248, 249, 252, 255, 1, 5, 10, 13, 20, 25, 29, 33, 38, 41, 42, 38},
    {0, 0, 0, 0, 0, 0, 0, 0, 246, 245, 246, 248, 252, 0, 5, 10, 18, 26, 33, 40, 45, 49, 51, 44},
    {0, 0, 0, 0, 0, 0, 0, 0, 247, 244, 242, 243, 245, 250, 0, 5, 15, 25, 35, 45, 54, 57, 58, 54},
    {0, 0, 0, 0, 0, 0, 0, 0, 252, 247, 243, 241, 241, 244, 249, 0, 9, 21, 35, 47, 57, 64, 66, 64},
};

// Horizontal shrink filter of input channel ich; with `dual` also that of the
// next channel, which channel 7 does not have.
void c331_manage::set_lut_hshrnk(int fd, int ratio, int ich, int dual)
{
    if (!is_ich(ich))
        return;
    c331drv->write_C331(fd, LUT_TABLE, table_for(ratio), 0);
    c331drv->write_C331(fd, LUT_DEST, 131 + 4 * ich, 0);
    if (dual && is_ich(ich + 1))
        c331drv->write_C331(fd, LUT_DEST, 135 + 4 * ich, 0);
}

// Plain vertical shrink filter: channels 4 and 5 load two filters; channels 0
// to 3 load their own, or both filters of their pair in a pair mode from 4.
void c331_manage::set_lut_vshrnk(int fd, int ratio, int ich)
{
    if (ich < 0 || ich > 5)
        return;
    c331drv->write_C331(fd, LUT_TABLE, table_for(ratio), 0);
    if (ich >= 4) {
        c331drv->write_C331(fd, LUT_DEST, 146 + 8 * (ich - 4), 0);
        c331drv->write_C331(fd, LUT_DEST, 150 + 8 * (ich - 4), 0);
    } else if (ich_pair_mode[ich] < 4) {
        c331drv->write_C331(fd, LUT_DEST, 130 + 4 * ich, 0);
    } else {
        c331drv->write_C331(fd, LUT_DEST, 130 + 8 * (ich / 2), 0);
        c331drv->write_C331(fd, LUT_DEST, 134 + 8 * (ich / 2), 0);
    }
}

void c331_manage::set_lut_hzoom(int fd, int unused, int och)
{
    if (och < 0 || och >= OCH_NUM)
        return;
    c331drv->write_C331(fd, LUT_TABLE, HZOOM_TABLE, 0);
    c331drv->write_C331(fd, LUT_DEST, 129 + 4 * och, 0);
}

// Four-tap vertical shrink coefficients of input channel ich; with `dual`
// also those of the next channel, which channel 7 does not have.
void c331_manage::set_lut_vshrnk_4sym(int fd, int ratio, int ich, int dual)
{
    if (!is_ich(ich))
        return;
    const int32_t *row = lut[row_for(ratio)];
    const int last = dual && is_ich(ich + 1) ? ich + 1 : ich;
    for (int ch = ich; ch <= last; ++ch)
        for (int k = 0; k < 24; ++k)
            c331drv->write_C331(fd, VSHRNK_COEF + (k << 8), row[k] & 0xFF, 16 * ch);
}

// Scan-conversion (memory packing) mode of every input channel of a window.
void c331_manage::set_iscwct(int fd, int win)
{
    if (!zemApi_IsWinValid(win))
        return;
    const uint8_t value = packing_value(PM_MEM_WMODE[win]);
    for (int k = 0; k < ich_count(win); ++k)
        if (is_ich(win_ich[win][k]))
            c331drv->write_C331(fd, ISCWCT + (win_ich[win][k] << 8), value, 0);
}
