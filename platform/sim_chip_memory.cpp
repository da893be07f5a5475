#include "platform/sim_chip_memory.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace sim {

SimChipMemory::SimChipMemory() : m_charList(CHAR_LIST_SIZE, 0), m_palette(PALETTE_SIZE, 0) {}

uint8_t *SimChipMemory::page(uint32_t number)
{
    std::unique_ptr<uint8_t[]> &p = m_pages[number];
    if (!p)
        p.reset(new uint8_t[PAGE]());
    return p.get();
}

namespace {

// Bytes of [address, address + len) inside the chip memory.
uint32_t inside(uint64_t address, uint32_t len)
{
    return address < SimChipMemory::SIZE ? uint32_t(std::min<uint64_t>(len, SimChipMemory::SIZE - address)) : 0;
}

} // namespace

template <class F> void SimChipMemory::eachPage(uint64_t address, uint32_t len, F f)
{
    for (len = inside(address, len); len > 0;) {
        const uint32_t offset = uint32_t(address % PAGE);
        const uint32_t n = std::min(len, PAGE - offset);
        f(page(uint32_t(address / PAGE)) + offset, n);
        address += n;
        len -= n;
    }
}

void SimChipMemory::write(uint64_t address, const uint8_t *data, uint32_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    eachPage(address, len, [&data](uint8_t *p, uint32_t n) {
        std::memcpy(p, data, n);
        data += n;
    });
}

void SimChipMemory::fill(uint64_t address, uint8_t value, uint32_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    eachPage(address, len, [value](uint8_t *p, uint32_t n) { std::memset(p, value, n); });
}

std::vector<uint8_t> SimChipMemory::read(uint64_t address, uint32_t len) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(len, 0);
    for (uint32_t i = 0, kept = inside(address, len); i < kept;) {
        const uint64_t a = address + i;
        const uint32_t n = std::min(kept - i, uint32_t(PAGE - a % PAGE));
        auto it = m_pages.find(uint32_t(a / PAGE));
        if (it != m_pages.end())
            std::memcpy(out.data() + i, it->second.get() + a % PAGE, n);
        i += n;
    }
    return out;
}

size_t SimChipMemory::pages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pages.size();
}

void SimChipMemory::writeCharList(uint16_t pointer, const uint8_t *data, uint32_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (uint32_t i = 0; i < len; ++i)
        m_charList[(pointer + i) % CHAR_LIST_SIZE] = data[i];
}

std::vector<uint8_t> SimChipMemory::charList(uint16_t pointer, uint32_t len) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(len);
    for (uint32_t i = 0; i < len; ++i)
        out[i] = m_charList[(pointer + i) % CHAR_LIST_SIZE];
    return out;
}

void SimChipMemory::writePalette(uint8_t index, const uint8_t *data, uint32_t len)
{
    writePaletteAt(index * 3u, data, len);
}

void SimChipMemory::writePaletteAt(uint32_t offset, const uint8_t *data, uint32_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (offset < PALETTE_SIZE)
        std::memcpy(m_palette.data() + offset, data, std::min(len, PALETTE_SIZE - offset));
}

std::vector<uint8_t> SimChipMemory::palette() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_palette;
}

} // namespace sim
} // namespace platform
