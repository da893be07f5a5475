#ifndef PLATFORM_SIM_C331_ENGINE_H
#define PLATFORM_SIM_C331_ENGINE_H

// The simulated chip's memory engine (register bank 4) and its palette port,
// as the chip model hands them the register traffic:
//   0x08 command: 1 fill, 2 copy, 3 draw characters (0 idle)
//   0x0B..0x0C fill value (its low byte is written)
//   0x0D..0x10 copy source, or the font base of a character draw
//   0x11..0x14 destination
//   0x17 status, bit 0 busy (for a settable number of reads after a command)
//   0x1B / 0x1C destination / source pitch in 128-byte units, 512-byte units
//        when bit 4 / bit 5 of 0x22 is set
//   0x1E..0x1F width - 1, 0x20..0x21 height - 1
//   0x24 characters - 1 of a draw, 0x2A character mode
//   0x27..0x28 character list pointer (taken when 0x28 is written), 0x29 the
//        list's data port (the pointer advances)
// Fills and copies are carried out on the chip memory, line by line with the
// pitches (lines beyond the memory's end are not written and read as 0;
// addresses do not wrap round); a character draw is recorded with its list
// (five bytes a character from list pointer 0: glyph low and high byte,
// foreground and background index, width - 1), the height entry (list
// pointer 0x0A00), the mode, the font base and the destination.
// Palette port: bank 9 sub 0x1F sets the first palette index, sub 0x20 writes
// the next palette byte while the gate (bank 0xFF sub 0x01) is 1; writes with
// the gate closed are counted and dropped.

#include "platform/sim_c331_flash.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class SimChipMemory;

class SimC331Engine
{
public:
    static constexpr uint8_t BANK = 4;
    static constexpr uint16_t HEIGHT_ENTRY = 0x0A00;
    static constexpr size_t LOG_LIMIT = 100000;   // oldest operations are dropped beyond this, unless set lower
    // Where the program keeps the operation log in simulation.
    static constexpr const char *LOG_FILE = "/sim/osd_engine.log";

    struct Char {
        uint16_t glyph;
        uint8_t fg, bg;
        uint8_t width;        // width - 1 as written (bit 7: double size)
        bool operator==(const Char &o) const
        {
            return glyph == o.glyph && fg == o.fg && bg == o.bg && width == o.width;
        }
    };
    struct Op {
        enum Kind { Fill, Copy, Draw };
        Kind kind = Fill;
        uint32_t source = 0;         // copy source or font base
        uint32_t destination = 0;
        uint32_t width = 0, height = 0;
        uint32_t sourcePitch = 0, destinationPitch = 0;   // bytes
        uint8_t value = 0;           // fill value
        uint8_t mode = 0;            // character mode
        uint8_t charHeight = 0;      // height entry as written (bit 7: double size)
        std::vector<Char> chars;     // a draw's list
    };

    explicit SimC331Engine(SimChipMemory &memory);
    ~SimC331Engine();
    SimC331Engine(const SimC331Engine &) = delete;
    SimC331Engine &operator=(const SimC331Engine &) = delete;

    void write(const ChipRegisters &regs, uint8_t bank, uint8_t sub, uint8_t value);
    bool read(uint8_t bank, uint8_t sub, uint8_t &value);

    // Appends one line per operation to a file at a program path (emptied
    // first, and again whenever it has grown past 8 MiB), for whoever drives
    // the simulated device from outside.
    bool attachLog(const std::string &absolute);

    std::vector<Op> ops() const;
    std::vector<Op> draws() const;
    void clearOps();
    // Keeps the newest `n` operations.
    void setOpLimit(size_t n);
    unsigned paletteWritesDropped() const;
    // Status reads that answer busy after each command (default 1).
    void setBusyPolls(unsigned reads);
    // An engine that never finishes.
    void setStuck(bool on);

private:
    void run(const ChipRegisters &regs, uint8_t command);
    void record(Op op);

    mutable std::mutex m_mutex;
    SimChipMemory &m_memory;
    uint16_t m_listPointer = 0;
    uint32_t m_palettePosition = 0;
    unsigned m_paletteDropped = 0;
    unsigned m_busyPolls = 1;
    unsigned m_busy = 0;
    bool m_stuck = false;
    std::deque<Op> m_ops;
    size_t m_opLimit = LOG_LIMIT;
    int m_logFd = -1;
    size_t m_logBytes = 0;
};

} // namespace sim
} // namespace platform

#endif
