#ifndef SENDCARD_FPGA_DRV_H
#define SENDCARD_FPGA_DRV_H

// SPI access to the two sending-card FPGAs, one chip select each. Each
// operation is one SPI message made of a 4-byte command word and its data
// (the command words are listed in platform/sim_fpga.h, whose model answers
// them in simulation). Every transfer holds Utils::_spi_mutex.

#include <cstdint>

class fpga_drv
{
public:
    static const char *const DEVICE_PATH[2];

    // Opens both chip selects (in simulation the FPGA models are attached
    // first when nobody attached any); true when both are open.
    static bool open_devices();

    static void write_reg(uint8_t fpga, uint8_t reg, uint8_t value);
    static uint8_t read_reg(uint8_t fpga, uint8_t reg);

    // RAM page access: bank 0..63, address bits 0..23 as given.
    static void write_ram(uint8_t fpga, uint8_t bank, uint32_t address, const uint8_t *buf, uint32_t len);
    static void read_ram(uint8_t fpga, uint8_t bank, uint32_t address, uint8_t *buf, uint32_t len);

    // Card frames out of output port `port` (0, 1, or 0xFF for both) and in.
    static void send_card_frame(uint8_t fpga, uint8_t port, const uint8_t *buf, uint32_t len);
    static void read_card_frame(uint8_t fpga, uint8_t port, uint8_t *buf, uint32_t len);

    // The FPGAs' configuration flashes (8 MiB serial NOR each) share one chip
    // select; the flash-routing GPIO puts one of them on the bus for the time
    // of an operation (selector 2: FPGA 0's flash, 3: FPGA 1's; others do
    // nothing). Every operation holds Utils::_spi_mutex.
    static const char *const FLASH_DEVICE_PATH;
    static constexpr uint32_t FLASH_SIZE = 0x800000;
    static constexpr uint32_t FLASH_PAGE = 256;

    // Erases `count` blocks from 4 KB unit `unit`; mode 0 = 4 KB, 1 = 32 KB,
    // 2 = 64 KB blocks (other modes do nothing).
    static void FPGA_SPI_FLASH_VBYONE_ERASE(uint8_t selector, uint32_t unit, uint8_t mode, uint32_t count);
    // Programs `length` bytes taken from buffer + 4 at `address`, page by page.
    // The four bytes in front of each page's data are overwritten with the
    // program command and address, so the buffer must hold length + 4 bytes.
    // Nothing happens for length 0 or when the data would run past the flash.
    static void FPGA_SPI_FLASH_VBYONE_WRITE(uint8_t selector, uint32_t address, uint8_t *buffer, uint32_t length);
    // Reads `length` bytes at `address` into `buffer` (0xFF past the flash).
    static void FPGA_SPI_FLASH_VBYONE_READ(uint8_t selector, uint32_t address, uint32_t length, uint8_t *buffer);
    // Reads the flash's 8-byte unique id into `buffer`.
    static void FPGA_SPI_FLASH_SSTF016B_RD_UID(uint8_t selector, uint8_t *buffer);

private:
    static int fd(uint8_t fpga);
    static int flash_fd();
};

#endif
