#ifndef SENDCARD_CLOCK_RECORD_RUN_H
#define SENDCARD_CLOCK_RECORD_RUN_H

// The run-time record of the run log kept in FPGA 0's flash: u32 word 5 the
// record sequence number, bytes 7..13 the BCD start stamp of the current
// record group, words 11 and 12 minutes of run time, word 13 the closed groups'
// minutes. Little-endian words counted from the start.

#include "app/para_layout.h"

#include <cstdint>
#include <mutex>

extern uint8_t g_clock_record[64];

// Word `n` of a record (a copy, or g_clock_record under record_mutex).
inline uint32_t clock_record_word(const uint8_t *record, int n)
{
    return para::get32(record, uint32_t(4 * n));
}

inline uint32_t clock_record_word(int n)
{
    return clock_record_word(g_clock_record, n);
}

class clock_record_run
{
public:
    // The run log: flash window 0x480000..0x4C0000 of flash number 0, kept in
    // FPGA 0's configuration flash (selector 2) 0x14C000 lower. Records are
    // RECORD_SIZE bytes, slot = sequence number modulo the slot count.
    static constexpr uint32_t LOG_WINDOW = 0x480000;
    static constexpr uint32_t LOG_SIZE = 0x40000;
    static constexpr uint32_t LOG_SHIFT = 0x14C000;
    static constexpr uint32_t LOG_FLASH_START = LOG_WINDOW - LOG_SHIFT;
    static constexpr uint32_t RECORD_SIZE = sizeof g_clock_record;
    static constexpr uint8_t LOG_SELECTOR = 2;

    // Marks a clock change: the record gets the next sequence number and a
    // start stamp rebased on the system clock (now less the minutes already
    // run in the group), and is written to its slot of the run log.
    static void dealwith_record_timing();
    // Flash address of the record slot of sequence number `seq`.
    static uint32_t slot_address(uint32_t seq);

    // Guards g_clock_record.
    static std::mutex record_mutex;
};

#endif
