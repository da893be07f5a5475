#ifndef PLATFORM_DEVICES_H
#define PLATFORM_DEVICES_H

// The board's device nodes, by what they are wired to. These are program
// paths: the platform calls that open them put them under the root, and in
// simulation the models are attached to the same names.

#include <cstdint>
#include <string>

namespace platform {
namespace devices {

// SPI bus 32766: the video processing chip on chip select 0, FPGA 0 and
// FPGA 1 on 1 and 2, the FPGAs' configuration flashes (routed by GPIO) on 3.
inline constexpr const char *CHIP_SPI = "/dev/spidev32766.0";
inline constexpr const char *FPGA_SPI[2] = {"/dev/spidev32766.1", "/dev/spidev32766.2"};
inline constexpr const char *FLASH_SPI = "/dev/spidev32766.3";

// MTD partitions written by file transfer: the boot logo and the kernel.
inline constexpr const char *MTD_LOGO = "/dev/mtd8";
inline constexpr const char *MTD_KERNEL = "/dev/mtd10";

// Physical memory (SoC id registers, GPIO words).
inline constexpr const char *MEM = "/dev/mem";

// The video processing chip's memory clock, and the clock its input
// measurement unit counts in (a quarter of it).
inline constexpr uint32_t CHIP_MEMORY_CLOCK_HZ = 800000000;
inline constexpr uint32_t CHIP_MEASURE_CLOCK_HZ = CHIP_MEMORY_CLOCK_HZ / 4;

// The I2C bus of the input receivers.
inline constexpr const char *I2C_BUS = "/dev/i2c-0";

// Serial port number `n` ("/dev/ttyS2" for 2).
inline std::string serialPort(int n)
{
    return "/dev/ttyS" + std::to_string(n);
}

// The PC tool's end of serial port `n` in simulation: the run script links
// it beside the program's end of each pseudo-terminal pair.
inline std::string simUserSerialPort(int n)
{
    return "/dev/pc-ttyS" + std::to_string(n);
}

} // namespace devices
} // namespace platform

#endif
