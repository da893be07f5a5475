#ifndef SENDCARD_CLOCK_RECORD_RUN_H
#define SENDCARD_CLOCK_RECORD_RUN_H

// The run-time record of the run log kept in FPGA 0's flash: u32 word 5 the
// record sequence number, bytes 7..13 the BCD start stamp of the current
// record group, words 11 and 12 minutes of run time, word 13 the closed groups'
// minutes. Little-endian words counted from the start.

#include <cstdint>

extern uint8_t g_clock_record[64];

inline uint32_t clock_record_word(int n)
{
    const uint8_t *p = g_clock_record + 4 * n;
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

#endif
