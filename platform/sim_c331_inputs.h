#ifndef PLATFORM_SIM_C331_INPUTS_H
#define PLATFORM_SIM_C331_INPUTS_H

// The input side of the simulated video processing chip, as the sources
// plugged into its six ports make it look:
// - the input measurement unit (banks 0xAE and 0xAF): per port the line
//   total, lines per frame, line and frame periods in measurement-clock
//   counts and the active width; a V-by-One receiver also reports its four
//   lock sub-channels. A port without a source reads all ones (no lock).
// - the V-by-One lock bits (bank 0xB2, sub 0x63: bit 5 receiver 0, bit 7
//   receiver 1);
// - the field counters (bank 0xAB, subs 0x47..0x4E: bits 3..2 the input
//   field, which is also the slot input channel i's memory writer is in,
//   bits 1..0 the output field), which step on every read. A writer that is
//   stopped (its write control, bank 0x10 + 16 i sub 0x09, written with 2)
//   stays in its slot until it writes again; a test can also pin the slot.
// Each can be held back for N reads ("busy"), or for ever, to exercise the
// program's time-outs. The input frame flags (0x05 : 0x22) are a status
// register of the chip model itself (SimC331::setBusy).

#include <cstdint>
#include <mutex>

namespace platform {
namespace sim {

class SimC331Inputs
{
public:
    static constexpr int PORTS = 6;
    static constexpr int FIELD_REGS = 8;
    static constexpr uint32_t NEVER = 0xFFFFFFFFu;

    // What a source presents to a port: one frame, or one field when the
    // source is interlaced (then `rate` is the field rate).
    struct Signal {
        uint32_t htotal = 0;    // pixels per line
        uint32_t vtotal = 0;    // lines per frame (field)
        uint32_t hactive = 0;   // active pixels per line
        double rate = 0;        // frames (fields) per second
        uint8_t lanes = 0;      // V-by-One lanes (ports 4 and 5)
    };

    void plug(int port, const Signal &signal);
    void unplug(int port);
    bool plugged(int port) const;

    // The port's measurement reads as "no lock" for the next `reads` reads
    // of its frame period (NEVER: for ever).
    void setMeasureBusy(int port, uint32_t reads);
    // The lock bit of V-by-One receiver k stays clear for the next `reads`
    // reads of the lock register.
    void setLockBusy(int k, uint32_t reads);
    // The frame period of the lock sub-channels in `mask` (bit i: sub-channel
    // i) of a V-by-One port reads as "no lock" while their line period still
    // measures; sub-channel 0's is also the port's own.
    void setFrameLost(int port, uint8_t mask);
    // Field register i keeps its field for the next `reads` reads.
    void setFieldBusy(int i, uint32_t reads);
    // Input channel i's writer stays in `slot` (0..3) whatever happens, or
    // follows the frames again (slot -1).
    void pinWriteSlot(int i, int slot);
    // The chip's side: input channel i's write control was written.
    void writeControl(int i, uint8_t value);

    // The chip's answer to a read of (bank, sub) when the input side owns
    // that register; `stored` is what the register file holds there.
    bool read(uint8_t bank, uint8_t sub, uint8_t stored, uint8_t &value);

private:
    struct Port {
        bool plugged = false;
        Signal signal;
        uint32_t measureBusy = 0;
        uint32_t lockBusy = 0;
        uint8_t frameLost = 0;
    };

    uint8_t measurementByte(uint8_t bank, uint8_t sub, bool &owned);
    uint8_t lockBits();
    uint8_t fieldByte(int i, uint8_t stored);

    mutable std::mutex m_mutex;
    Port m_ports[PORTS];
    uint8_t m_field[FIELD_REGS] = {};
    uint32_t m_fieldBusy[FIELD_REGS] = {};
    bool m_writerStopped[FIELD_REGS] = {};
    uint8_t m_stoppedSlot[FIELD_REGS] = {};
    int m_pinnedSlot[FIELD_REGS] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

} // namespace sim
} // namespace platform

#endif
