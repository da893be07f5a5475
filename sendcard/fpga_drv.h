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

private:
    static int fd(uint8_t fpga);
};

#endif
