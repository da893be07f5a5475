#ifndef PLATFORM_SIM_CHIP_MEMORY_H
#define PLATFORM_SIM_CHIP_MEMORY_H

// Memories of the simulated video processing chip as its DMA and drawing
// engines reach them: the chip memory (2 GiB from address 0, kept in 64 KiB
// pages made on first write; bytes never written read 0, bytes beyond its
// end are not kept: writes there are dropped and reads give 0), the
// character list of the character engine (addressed by its 16-bit list
// pointer) and the 256-entry palette (three bytes an entry).

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {
namespace sim {

class SimChipMemory
{
public:
    static constexpr uint32_t PAGE = 0x10000;
    static constexpr uint64_t SIZE = uint64_t(1) << 31;
    static constexpr uint32_t CHAR_LIST_SIZE = 0x10000;
    static constexpr uint32_t PALETTE_ENTRIES = 256;
    // The palette store holds the 816 bytes of the OSD bitmap's palette in
    // one piece; pixels index its first 256 entries.
    static constexpr uint32_t PALETTE_SIZE = 816;

    SimChipMemory();

    // Chip memory; the part of a range beyond SIZE is dropped (read as 0).
    void write(uint64_t address, const uint8_t *data, uint32_t len);
    void fill(uint64_t address, uint8_t value, uint32_t len);
    std::vector<uint8_t> read(uint64_t address, uint32_t len) const;
    // Pages made so far.
    size_t pages() const;

    // Character list from list pointer `pointer`; wraps at the end of the list.
    void writeCharList(uint16_t pointer, const uint8_t *data, uint32_t len);
    std::vector<uint8_t> charList(uint16_t pointer, uint32_t len) const;

    // Palette from entry `index`, or from byte `offset`; bytes past the
    // store's end are dropped.
    void writePalette(uint8_t index, const uint8_t *data, uint32_t len);
    void writePaletteAt(uint32_t offset, const uint8_t *data, uint32_t len);
    std::vector<uint8_t> palette() const;

private:
    // Runs f(page bytes, count) over the part of [address, address + len)
    // inside the chip memory.
    template <class F> void eachPage(uint64_t address, uint32_t len, F f);
    uint8_t *page(uint32_t number);

    mutable std::mutex m_mutex;
    std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> m_pages;   // by address / PAGE
    std::vector<uint8_t> m_charList;
    std::vector<uint8_t> m_palette;
};

} // namespace sim
} // namespace platform

#endif
