#ifndef SENDCARD_FPGA_GPIO_H
#define SENDCARD_FPGA_GPIO_H

// The two flash-routing GPIO registers of the sending card, one per FPGA
// configuration-flash path. 0x10 in both is the idle state: the shared SPI bus
// then reaches neither configuration flash. Callers hold Utils::_spi_mutex.

#include <cstdint>

namespace fpga_gpio {

constexpr uint32_t GPIO_BASE = 0x1F207800;   // the simulated board's GPIO block holding both words
constexpr uint32_t GPIO_LENGTH = 0x200;
constexpr uint32_t FLASH_ROUTE[2] = {GPIO_BASE + 0x1A0, GPIO_BASE + 0x1A4};
constexpr uint16_t ROUTE_IDLE = 0x10;
constexpr uint16_t ROUTE_SELECTED = 0x00;

// Writes the idle value into both routing registers.
void route_idle();
// Writes `value` into routing register `n` (0 or 1); other n are ignored.
void write_route(int n, uint16_t value);
// Current value of routing register `n` (0 when unmapped).
uint16_t read_route(int n);

} // namespace fpga_gpio

#endif
