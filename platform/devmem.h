#ifndef PLATFORM_DEVMEM_H
#define PLATFORM_DEVMEM_H

// Physical memory of the SoC (/dev/mem): the unique-id registers and the GPIO
// words (flash chip selects, FPGA resets). In simulation a register map that
// remembers what is written and that tests can preset.

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {
namespace devmem {

class Window
{
public:
    virtual ~Window() {}
    virtual uint16_t read16(uint32_t phys) = 0;
    virtual void write16(uint32_t phys, uint16_t value) = 0;
    virtual uint32_t read32(uint32_t phys) = 0;
    virtual void write32(uint32_t phys, uint32_t value) = 0;
};

// Maps `length` bytes from physical address `base`; null when /dev/mem cannot
// be opened or mapped. Accesses outside the window are ignored (reads give 0).
std::unique_ptr<Window> map(uint32_t base, uint32_t length);

// Maps GPIO words whose addresses are the simulated board's own (the FPGA
// reset lines, the FPGA flash routing, the SDI receiver's reset line): on the
// device, where their wiring is not known, nothing is mapped (null) and the
// first such request says so once on standard error.
std::unique_ptr<Window> mapBoardGpio(uint32_t base, uint32_t length);

// Such GPIO words, mapped on first use and kept for the program's life;
// get() is null where mapBoardGpio gives nothing.
class BoardGpio
{
public:
    BoardGpio(uint32_t base, uint32_t length) : m_base(base), m_length(length) {}
    Window *get()
    {
        std::call_once(m_once, [this] { m_window = mapBoardGpio(m_base, m_length); });
        return m_window.get();
    }

private:
    const uint32_t m_base, m_length;
    std::once_flag m_once;
    std::unique_ptr<Window> m_window;
};

namespace sim {
// Presets or inspects a simulated register.
void poke16(uint32_t phys, uint16_t value);
uint16_t peek16(uint32_t phys);
// Makes map() fail, as a board without /dev/mem access would.
void setAvailable(bool available);
// Restores the power-on register values and forgets the windows mapped.
void reset();
// The windows mapped since the last reset, as (base, length), in order.
std::vector<std::pair<uint32_t, uint32_t>> windows();
} // namespace sim

} // namespace devmem
} // namespace platform

#endif
