#ifndef VIDEOPROC_C331_REGTABLE_H
#define VIDEOPROC_C331_REGTABLE_H

// Register/value tables of the chip: fixed sequences kept as data and written
// in table order through the register driver. Registers are descriptors
// (bank << 16 | sub << 8 | width); the channel offset is added to the bank.

#include "videoproc/c331_drv.h"

#include <cstddef>
#include <cstdint>

namespace c331_table {

// One register and the value written to it.
struct RegVal {
    uint32_t reg;
    uint32_t value;
};

// One register and its value per column (a level, a format, a mode ...).
template <size_t N>
struct RegRow {
    uint32_t reg;
    uint16_t value[N];
};

template <size_t R>
void write(c331_drv &d, int fd, const RegVal (&list)[R], int offset = 0)
{
    for (const RegVal &e : list)
        d.write_C331(fd, e.reg, e.value, offset);
}

// Writes column `col` of every row.
template <size_t N, size_t R>
void write_column(c331_drv &d, int fd, const RegRow<N> (&rows)[R], size_t col, int offset = 0)
{
    for (const RegRow<N> &e : rows)
        d.write_C331(fd, e.reg, e.value[col], offset);
}

} // namespace c331_table

#endif
