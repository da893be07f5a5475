#ifndef PLATFORM_SIM_C331_FLASH_H
#define PLATFORM_SIM_C331_FLASH_H

// The simulated chip's serial-flash controller (register bank 4, sub-addresses
// 0x47 to 0x5F) in front of a 32 MiB NOR flash, as the chip model hands it the
// register traffic:
//   0x47 control (0x80 resets the controller; 0x31 read and program, 0x01
//        erase, 0x33 DMA to memory or palette, 0x37 DMA to the character list)
//   0x48 command: 2 DMA, 4 command opcode with the address, 5 opcode alone
//   0x49 / 0x4A / 0x4B / 0x4C  program (0x12), read (0x0C), command and
//        write-enable (0x06) opcodes
//   0x4E..0x51 flash address, taken when its last byte (0x51) is written
//   0x52 data port, 0x53 read start (bit 0) / read busy (bit 7) / write buffer
//        empty (bit 5), 0x54 DMA (bit 0), write (bit 1) and erase (bit 3)
//        busy, 0x55 the flash's status (bit 0 write in progress, bit 1 write
//        enable latch), 0x56..0x59 DMA length (bit 31 ignored), 0x5A DMA target
//        (0 memory at bank 4 0x11, 1 character list at bank 4 0x27, 4 palette
//        from the index at bank 9 0x1F), 0x5F mode (1 registers, 2 DMA).
// Bytes written to the data port in program mode are collected and programmed
// when the next address is written (the page is closed). NOR rules hold:
// erase sets 0xFF, programming only clears bits and wraps inside its 256-byte
// page; both of the latter are marked in the operation log. Busy bits answer
// busy for a settable number of status reads after each operation.
//
// The cells live in memory, 4 KiB sectors made on first write, or in a file
// under the root that outlives the program (created on the first write).

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {
namespace sim {

class SimChipMemory;

// The chip's register file: 256 banks x 128 sub-addresses.
using ChipRegisters = uint8_t[256][128];

class SimC331Flash
{
public:
    static constexpr uint32_t SIZE = 0x2000000;
    static constexpr uint32_t PAGE = 256;
    static constexpr uint32_t SECTOR = 4096;
    static constexpr uint8_t BANK = 4;
    // Where the program keeps the flash in simulation.
    static constexpr const char *BACKING_FILE = "/sim/chip_flash.bin";
    static constexpr size_t OP_LOG_LIMIT = 100000;   // oldest operations are dropped beyond this, unless set lower

    // One operation the controller carried out or ignored.
    struct Op {
        enum Kind { Read, Program, Erase, Dma, WriteEnable, WriteDisable, Ignored };
        Kind kind = Ignored;
        uint32_t address = 0;        // flash address where it started
        uint32_t length = 0;         // bytes read, programmed, erased or copied
        uint8_t target = 0;          // DMA target
        uint32_t destination = 0;    // DMA: memory address, list pointer or palette index
        bool overProgrammed = false; // a byte needed a 0 -> 1 change, which NOR cannot make
        bool pageWrapped = false;    // the bytes ran past the page end and wrapped to its start
        std::string reason;          // Ignored: why
    };

    explicit SimC331Flash(SimChipMemory &memory);
    ~SimC331Flash();
    SimC331Flash(const SimC331Flash &) = delete;
    SimC331Flash &operator=(const SimC331Flash &) = delete;

    // Register traffic, from the chip model (with the register already
    // stored in `regs`). read() answers true when it supplies the value.
    void write(const ChipRegisters &regs, uint8_t bank, uint8_t sub, uint8_t value);
    bool read(uint8_t bank, uint8_t sub, uint8_t &value);

    // Keeps the cells in the file at a program path from now on; what the
    // file holds is the flash (bytes past its end read erased). False when
    // an existing file cannot be opened or is refused (no regular file, or
    // a link out of the root).
    bool attachFile(const std::string &absolute);

    // Inspection and presetting for tests (preset writes the cells as a
    // programmer would, erased or not).
    std::vector<uint8_t> contents(uint32_t address, uint32_t len) const;
    void preset(uint32_t address, const std::vector<uint8_t> &data);
    std::vector<Op> ops() const;
    void clearOps();
    // Keeps the newest `n` operations.
    void setOpLimit(size_t n);
    // Status reads that answer busy after each operation (default 1).
    void setBusyPolls(unsigned reads);
    // A controller that never finishes: every busy bit stays set.
    void setStuck(bool on);
    // A flash that leaves its write-enable latch set after a program or an
    // erase, until it is told to disable writing; the latch then reads set
    // for as many status reads as a busy bit does.
    void setWriteEnableKept(bool on);

private:
    struct Sector;

    void command(const ChipRegisters &regs, uint8_t value);
    void takeAddress(const ChipRegisters &regs);
    void programPage(const ChipRegisters &regs);
    void eraseBlock(const ChipRegisters &regs);
    void opcodeAlone(const ChipRegisters &regs);
    void dma(const ChipRegisters &regs);
    void ignore(const std::string &reason);
    void log(Op op);

    uint8_t cell(uint32_t address) const;
    void copyOut(uint32_t address, uint32_t len, uint8_t *out) const;
    const uint8_t *sector(uint32_t number) const;   // null: erased
    uint8_t *writableSector(uint32_t number);
    void persist(uint32_t address, uint32_t len);
    bool openForWrite();

    mutable std::mutex m_mutex;
    SimChipMemory &m_memory;
    mutable std::unordered_map<uint32_t, std::unique_ptr<Sector>> m_sectors;   // null: erased
    std::string m_file;                  // program path, empty: cells in memory only
    int m_fd = -1;
    bool m_fileReady = false;            // open for writing and full size

    uint32_t m_address = 0;              // taken from 0x4E
    std::vector<uint8_t> m_buffer;       // bytes of the open page
    bool m_reading = false;
    uint32_t m_readAddress = 0;
    bool m_wel = false;
    unsigned m_busyPolls = 1;
    bool m_stuck = false;
    bool m_welKept = false;
    unsigned m_welClearing = 0;          // status reads that still show the latch after a write disable
    unsigned m_readBusy = 0, m_dmaBusy = 0, m_writeBusy = 0, m_eraseBusy = 0, m_wip = 0;
    std::deque<Op> m_ops;
    size_t m_opLimit = OP_LOG_LIMIT;
};

} // namespace sim
} // namespace platform

#endif
