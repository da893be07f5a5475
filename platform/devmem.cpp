#include "platform/devmem.h"
#include "platform/devices.h"
#include "platform/platform.h"

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {
namespace devmem {
namespace {

// Power-on values of the simulated SoC: a fixed unique id.
const std::map<uint32_t, uint8_t> &powerOn()
{
    static const std::map<uint32_t, uint8_t> values = {
        {0x1F004058, 0x21}, {0x1F004059, 0x43},
        {0x1F00405C, 0x65}, {0x1F00405D, 0x87},
        {0x1F004060, 0xA9}, {0x1F004061, 0xCB},
        {0x1F00400C, 0x00}, {0x1F00400D, 0x01},
    };
    return values;
}

struct SimMem {
    std::mutex mutex;
    std::map<uint32_t, uint8_t> bytes = powerOn();
    bool available = true;
    std::vector<std::pair<uint32_t, uint32_t>> windows;   // every map(), in order
};

SimMem &simMem()
{
    static SimMem m;
    return m;
}

uint32_t simRead(uint32_t phys, int width)
{
    SimMem &m = simMem();
    std::lock_guard<std::mutex> lock(m.mutex);
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
        auto it = m.bytes.find(phys + i);
        v |= uint32_t(it == m.bytes.end() ? 0 : it->second) << (8 * i);
    }
    return v;
}

void simWrite(uint32_t phys, uint32_t value, int width)
{
    SimMem &m = simMem();
    std::lock_guard<std::mutex> lock(m.mutex);
    for (int i = 0; i < width; ++i)
        m.bytes[phys + i] = static_cast<uint8_t>(value >> (8 * i));
}

class SimWindow : public Window
{
public:
    SimWindow(uint32_t base, uint32_t length) : m_base(base), m_length(length) {}
    uint16_t read16(uint32_t phys) override { return inside(phys, 2) ? simRead(phys, 2) : 0; }
    void write16(uint32_t phys, uint16_t v) override { if (inside(phys, 2)) simWrite(phys, v, 2); }
    uint32_t read32(uint32_t phys) override { return inside(phys, 4) ? simRead(phys, 4) : 0; }
    void write32(uint32_t phys, uint32_t v) override { if (inside(phys, 4)) simWrite(phys, v, 4); }

private:
    bool inside(uint32_t phys, uint32_t w) const { return phys >= m_base && phys - m_base + w <= m_length; }
    uint32_t m_base;
    uint32_t m_length;
};

class DeviceWindow : public Window
{
public:
    // `mapping` covers `mapped` bytes from the page that holds `base`.
    DeviceWindow(void *mapping, size_t mapped, uint32_t base, uint32_t length)
        : m_mapping(mapping), m_mapped(mapped),
          m_mem(static_cast<volatile uint8_t *>(mapping) + (mapped - length)), m_base(base), m_length(length) {}
    ~DeviceWindow() override { munmap(m_mapping, m_mapped); }
    uint16_t read16(uint32_t phys) override
    {
        return inside(phys, 2) ? *reinterpret_cast<volatile uint16_t *>(m_mem + (phys - m_base)) : 0;
    }
    void write16(uint32_t phys, uint16_t v) override
    {
        if (inside(phys, 2))
            *reinterpret_cast<volatile uint16_t *>(m_mem + (phys - m_base)) = v;
    }
    uint32_t read32(uint32_t phys) override
    {
        return inside(phys, 4) ? *reinterpret_cast<volatile uint32_t *>(m_mem + (phys - m_base)) : 0;
    }
    void write32(uint32_t phys, uint32_t v) override
    {
        if (inside(phys, 4))
            *reinterpret_cast<volatile uint32_t *>(m_mem + (phys - m_base)) = v;
    }

private:
    bool inside(uint32_t phys, uint32_t w) const { return phys >= m_base && phys - m_base + w <= m_length; }
    void *m_mapping;
    size_t m_mapped;
    volatile uint8_t *m_mem;
    uint32_t m_base;
    uint32_t m_length;
};

} // namespace

std::unique_ptr<Window> map(uint32_t base, uint32_t length)
{
    if (isSim()) {
        std::lock_guard<std::mutex> lock(simMem().mutex);
        if (!simMem().available)
            return nullptr;
        simMem().windows.emplace_back(base, length);
        return std::unique_ptr<Window>(new SimWindow(base, length));
    }
    int fd = ::open(path(devices::MEM).c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    // mmap takes whole pages: map from the page that holds base.
    const uint32_t page = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
    const uint32_t start = base & ~(page - 1);
    const size_t mapped = size_t(base - start) + length;
    void *mem = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED, fd, start);
    ::close(fd);
    if (mem == MAP_FAILED)
        return nullptr;
    return std::unique_ptr<Window>(new DeviceWindow(mem, mapped, base, length));
}

std::unique_ptr<Window> mapBoardGpio(uint32_t base, uint32_t length)
{
    if (isSim())
        return map(base, length);
    static std::once_flag once;
    std::call_once(once, [] {
        std::fputs("GPIO: the FPGA reset lines, the FPGA flash routing and the SDI receiver's reset line are not "
                   "driven on this board\n",
                   stderr);
    });
    return nullptr;
}

namespace sim {

void poke16(uint32_t phys, uint16_t value) { simWrite(phys, value, 2); }
uint16_t peek16(uint32_t phys) { return static_cast<uint16_t>(simRead(phys, 2)); }

void setAvailable(bool available)
{
    std::lock_guard<std::mutex> lock(simMem().mutex);
    simMem().available = available;
}

void reset()
{
    std::lock_guard<std::mutex> lock(simMem().mutex);
    simMem().bytes = powerOn();
    simMem().available = true;
    simMem().windows.clear();
}

std::vector<std::pair<uint32_t, uint32_t>> windows()
{
    std::lock_guard<std::mutex> lock(simMem().mutex);
    return simMem().windows;
}

} // namespace sim
} // namespace devmem
} // namespace platform
