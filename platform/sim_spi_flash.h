#ifndef PLATFORM_SIM_SPI_FLASH_H
#define PLATFORM_SIM_SPI_FLASH_H

// Simulated serial NOR flashes: the two FPGA configuration flashes of the
// sending card. They share one SPI chip select; two 16-bit GPIO words route
// the bus to one of them (word n = 0: flash n is on the bus; 0x10: idle).
// With no word or both words at 0 nothing answers (reads return 0xFF).
//
// Each flash understands the usual serial NOR commands, one per message:
//   06 write enable        04 write disable       05 read status (bit 0 busy, bit 1 WEL)
//   03 a2 a1 a0 data...    read                   0B a2 a1 a0 xx data...  fast read
//   02 a2 a1 a0 data...    page program (AND into the cells, wraps inside its 256-byte page)
//   20 / 52 / D8 a2 a1 a0  erase 4 KB / 32 KB / 64 KB block (to 0xFF)
//   9F                     JEDEC id (3 bytes)
//   4B xx xx xx xx         8-byte unique id
// Program and erase need the write-enable latch and clear it. Operations
// finish at once; the status register never reads busy.

#include "platform/spi.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {
namespace simflash {

class SimSpiFlash
{
public:
    static constexpr uint32_t SIZE = 8u << 20;
    static constexpr uint32_t PAGE = 256;

    explicit SimSpiFlash(const std::array<uint8_t, 8> &uid);

    void transfer(const spi::Xfer &x);

    // Inspection and presetting for tests.
    std::vector<uint8_t> read(uint32_t address, uint32_t len) const;
    void preset(uint32_t address, const std::vector<uint8_t> &data);
    std::array<uint8_t, 8> uid() const { return m_uid; }
    // While protected, program and erase commands are accepted but change nothing.
    void setWriteProtected(bool on);
    unsigned programCount() const;
    unsigned eraseCount() const;

private:
    void erase(uint32_t address, uint32_t size);

    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_cells;
    std::array<uint8_t, 8> m_uid;
    bool m_wel = false;
    bool m_protected = false;
    unsigned m_programs = 0;
    unsigned m_erases = 0;
};

// The shared chip select with its two routed flashes.
class SimFlashBus : public spi::sim::Device
{
public:
    // `route[n]` is the physical address of flash n's routing GPIO word.
    SimFlashBus(const uint32_t route[2]);

    void transfer(const spi::Xfer &x) override;
    std::shared_ptr<SimSpiFlash> flash(int n) const { return m_flash[n & 1]; }

private:
    uint32_t m_route[2];
    std::shared_ptr<SimSpiFlash> m_flash[2];
};

} // namespace simflash
} // namespace platform

#endif
