#ifndef PLATFORM_SIM_C331_H
#define PLATFORM_SIM_C331_H

// Simulated video processing chip behind its 2-byte SPI register protocol:
// bank select [0x80, bank], register write [0x80 | sub, data], register read
// [sub, 0xFF] with the data in the second received byte. A register file of
// 256 banks x 128 sub-addresses, the identity register (0x24 at bank 0xB2,
// sub 0x08), status registers that answer "done" unless told otherwise, and
// an ordered log of every frame for the tests. The chip's serial flash, its
// memory and its drawing engine hang off the register hooks below.

#include "platform/sim_c331_engine.h"
#include "platform/sim_c331_flash.h"
#include "platform/sim_c331_inputs.h"
#include "platform/sim_chip_memory.h"
#include "platform/spi.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace sim {

class SimC331 : public spi::sim::Device
{
public:
    static constexpr uint8_t ID_BANK = 0xB2;
    static constexpr uint8_t ID_SUB = 0x08;
    static constexpr uint8_t ID_VALUE = 0x24;
    static constexpr uint32_t NEVER = 0xFFFFFFFFu;
    static constexpr size_t LOG_LIMIT = 1u << 20;   // oldest frames are dropped beyond this, unless set lower

    // One 2-byte frame as the chip understood it.
    struct Frame {
        uint64_t seq;      // position in the whole traffic, counting dropped frames
        bool write;        // register write (or bank select)
        bool select;       // bank select (sub-address 0 written)
        uint8_t bank;      // bank in effect for the access (the new bank for a select)
        uint8_t sub;
        uint8_t value;     // byte written, or byte answered
    };

    SimC331();

    void transfer(const spi::Xfer &x) override;

    // Register file.
    uint8_t reg(uint8_t bank, uint8_t sub) const;
    void setReg(uint8_t bank, uint8_t sub, uint8_t value);
    // Little-endian value of `width` consecutive sub-addresses.
    uint32_t value(uint8_t bank, uint8_t sub, unsigned width) const;
    // The same by register descriptor (bank << 16 | sub << 8 | width) and channel offset.
    uint32_t value(uint32_t descriptor, int offset = 0) const;
    uint8_t currentBank() const;

    // Identity: the value answered at bank 0xB2 sub 0x08. Queued answers are
    // used first, one per read.
    void setIdentity(uint8_t value);
    void queueIdentity(const std::vector<uint8_t> &answers);
    unsigned identityReads() const;

    // Status registers: a read answers `done` unless the register was made busy.
    void defineStatus(uint8_t bank, uint8_t sub, uint8_t done, uint8_t busy);
    // Answers `busy` for the next `reads` reads (NEVER: for ever), then `done`.
    void setBusy(uint8_t bank, uint8_t sub, uint32_t reads);

    // Output frames (sim_c331_frames.cpp). The output-frame status (bank 0x05
    // sub 0x23) answers the channel mask selected at sub 0x09 while the status
    // enable (bank 0x00 sub 0x29 bit 7) is set: every selected channel has
    // begun a new frame. An output that stands still answers 0 for ever.
    void setOutputRunning(bool running);
    // Reads of the output-frame status so far.
    unsigned outputFrameReads() const;

    // Transfer log.
    uint64_t mark() const;                              // sequence number of the next frame
    std::vector<Frame> framesSince(uint64_t mark) const;
    std::vector<Frame> log() const { return framesSince(0); }
    // Bytes written to one register (bank selects excluded), oldest first.
    std::vector<uint8_t> writeHistory(uint8_t bank, uint8_t sub, uint64_t since = 0) const;
    unsigned bankSelects(uint64_t since = 0) const;
    void clearLog();
    // Keeps at most `n` of each record - frames, filter-table loads and the
    // operations of the flash and the memory engine - dropping the oldest.
    void setRecordLimit(size_t n);

    // The serial flash behind the controller of bank 4, the chip's memories,
    // and the memory engine of bank 4 with the palette port.
    SimC331Flash &flash() { return m_flash; }
    SimChipMemory &memory() { return m_memory; }
    SimC331Engine &engine() { return m_engine; }

    // Keeps a copy of the register file in a file at a program path (byte
    // bank x 128 + sub-address), updated with every write, for whoever drives
    // the simulated device from outside. False when the file cannot be made.
    static constexpr const char *REGISTER_FILE = "/sim/chip_registers.bin";
    bool attachRegisterFile(const std::string &absolute);
    ~SimC331() override;

    // ---- scaler filter tables (sim_c331_lut.cpp) ----
    // Writing a table number to bank 0x00 sub 0x79 names a built-in filter
    // table; every write of a destination code to sub 0x7A loads the table
    // last named into that filter. The loads are kept in order.
    static constexpr uint8_t LUT_BANK = 0x00;
    static constexpr uint8_t LUT_TABLE_SUB = 0x79;
    static constexpr uint8_t LUT_DEST_SUB = 0x7A;
    struct FilterLoad {
        uint64_t seq;          // position of the destination write in the traffic
        uint8_t table;
        uint8_t destination;
        bool operator==(const FilterLoad &o) const { return table == o.table && destination == o.destination; }
    };
    std::vector<FilterLoad> filterLoads(uint64_t since = 0) const;

    // ---- Input-channel measurement (bank 0xA8) ----
    // What the measurement unit reports for input channel `ich` (0..7): the
    // length of a line in counts and the lines of a field. The chip reports
    // the line length less one.
    void setInputChannelCounts(int ich, uint16_t lineLength, uint16_t fieldLines);

    // The input side: sources on the ports, measurements, lock bits and
    // field counters (sim_c331_inputs.h).
    SimC331Inputs &inputs() { return m_inputs; }

protected:
    // Hooks for the parts of the chip behind registers (serial flash, memory,
    // drawing engine). Called with the model's lock held.
    virtual void onWrite(uint8_t bank, uint8_t sub, uint8_t value);
    virtual bool onRead(uint8_t bank, uint8_t sub, uint8_t &value);

private:
    struct Status {
        uint8_t done;
        uint8_t busy;
        uint32_t busyReads;
    };

    void frame(uint8_t b0, uint8_t b1, uint8_t *rx);
    // Stores a register (and its copy in the register file's file); called
    // with the model's lock held.
    void store(uint8_t bank, uint8_t sub, uint8_t value);
    uint8_t readLocked(uint8_t bank, uint8_t sub);
    void record(bool write, bool select, uint8_t bank, uint8_t sub, uint8_t value);
    // Filter-table loads; called with the model's lock held.
    void noteFilterWrite(uint8_t bank, uint8_t sub, uint8_t value);
    // Stops and restarts of the input channels' memory writers.
    void noteWriterControl(uint8_t bank, uint8_t sub, uint8_t value);
    // The output-frame status when (bank, sub) is that register.
    bool outputFrameStatus(uint8_t bank, uint8_t sub, uint8_t &value);

    mutable std::mutex m_mutex;
    ChipRegisters m_regs;
    uint8_t m_bank = 0;
    uint8_t m_identity = ID_VALUE;
    std::deque<uint8_t> m_identityQueue;
    unsigned m_identityReads = 0;
    std::map<uint16_t, Status> m_status;   // key bank << 8 | sub
    bool m_outputRunning = true;
    unsigned m_outputFrameReads = 0;
    std::deque<Frame> m_log;
    size_t m_logLimit = LOG_LIMIT;
    uint64_t m_seq = 0;
    SimChipMemory m_memory;
    SimC331Flash m_flash{m_memory};
    SimC331Engine m_engine{m_memory};
    uint8_t *m_mirror = nullptr;           // mapped register file copy, or null
    uint8_t m_filterTable = 0;
    std::deque<FilterLoad> m_filterLoads;
    SimC331Inputs m_inputs;
};

} // namespace sim
} // namespace platform

#endif
