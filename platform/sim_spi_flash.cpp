#include "platform/sim_spi_flash.h"

#include "platform/devmem.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace simflash {
namespace {

constexpr uint8_t JEDEC_ID[3] = {0xEF, 0x40, 0x17};   // 64 Mbit serial NOR

uint32_t address(const uint8_t *tx) { return (uint32_t(tx[1]) << 16) | (uint32_t(tx[2]) << 8) | tx[3]; }

// Each flash of the board carries its own factory id; the two simulated
// ones differ in their last byte.
std::array<uint8_t, 8> factoryUid(int n)
{
    return {0xD2, 0x64, 0x38, 0x1C, 0x47, 0x0B, 0x29, uint8_t(0x51 + n)};
}

} // namespace

SimSpiFlash::SimSpiFlash(const std::array<uint8_t, 8> &uid) : m_cells(SIZE, 0xFF), m_uid(uid) {}

void SimSpiFlash::transfer(const spi::Xfer &x)
{
    if (!x.tx || x.len == 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint8_t *tx = x.tx;
    uint8_t *rx = x.rx;
    switch (tx[0]) {
    case 0x06: m_wel = true; return;
    case 0x04: m_wel = false; return;
    case 0x05:
        if (rx && x.len > 1)
            std::fill(rx + 1, rx + x.len, uint8_t(m_wel ? 0x02 : 0x00));
        return;
    case 0x9F:
        for (uint32_t i = 1; rx && i < x.len; ++i)
            rx[i] = i <= 3 ? JEDEC_ID[i - 1] : 0xFF;
        return;
    case 0x4B:
        for (uint32_t i = 5; rx && i < x.len; ++i)
            rx[i] = i - 5 < m_uid.size() ? m_uid[i - 5] : 0xFF;
        return;
    default:
        break;
    }
    if (x.len < 4)
        return;
    uint32_t a = address(tx) & (SIZE - 1);
    switch (tx[0]) {
    case 0x03:
    case 0x0B: {
        uint32_t first = tx[0] == 0x03 ? 4 : 5;
        for (uint32_t i = first; rx && i < x.len; ++i)
            rx[i] = m_cells[(a + i - first) & (SIZE - 1)];
        return;
    }
    case 0x02: {
        if (!m_wel)
            return;
        m_wel = false;
        ++m_programs;
        if (m_protected)
            return;
        uint32_t page = a & ~(PAGE - 1);
        for (uint32_t i = 4; i < x.len; ++i) {
            uint32_t cell = page + ((a + i - 4) & (PAGE - 1));
            m_cells[cell] &= tx[i];
        }
        return;
    }
    case 0x20: erase(a, 4096); return;
    case 0x52: erase(a, 32768); return;
    case 0xD8: erase(a, 65536); return;
    default: return;
    }
}

void SimSpiFlash::erase(uint32_t a, uint32_t size)
{
    if (!m_wel)
        return;
    m_wel = false;
    ++m_erases;
    if (m_protected)
        return;
    uint32_t start = a & ~(size - 1);
    std::fill(m_cells.begin() + start, m_cells.begin() + start + size, uint8_t(0xFF));
}

std::vector<uint8_t> SimSpiFlash::read(uint32_t address, uint32_t len) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(len, 0xFF);
    for (uint32_t i = 0; i < len && address + i < SIZE; ++i)
        out[i] = m_cells[address + i];
    return out;
}

void SimSpiFlash::preset(uint32_t address, const std::vector<uint8_t> &data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < data.size() && address + i < SIZE; ++i)
        m_cells[address + i] = data[i];
}

void SimSpiFlash::setWriteProtected(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_protected = on;
}

unsigned SimSpiFlash::programCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_programs;
}

unsigned SimSpiFlash::eraseCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_erases;
}

SimFlashBus::SimFlashBus(const uint32_t route[2])
{
    for (int n = 0; n < 2; ++n) {
        m_route[n] = route[n];
        m_flash[n] = std::make_shared<SimSpiFlash>(factoryUid(n));
    }
}

void SimFlashBus::transfer(const spi::Xfer &x)
{
    bool on[2];
    for (int n = 0; n < 2; ++n)
        on[n] = devmem::sim::peek16(m_route[n]) == 0;
    if (x.rx && x.len)
        std::memset(x.rx, 0xFF, x.len);
    if (on[0] == on[1])
        return;   // nothing routed, or two flashes fighting over the bus
    m_flash[on[0] ? 0 : 1]->transfer(x);
}

} // namespace simflash
} // namespace platform
