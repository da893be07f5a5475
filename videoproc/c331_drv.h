#ifndef VIDEOPROC_C331_DRV_H
#define VIDEOPROC_C331_DRV_H

// Register access to the video processing chip over SPI. Every access is a run
// of 2-byte frames; the chip's bank-select register is cached in cur_bank.
// A register is named by one descriptor: bits 23..16 bank, 15..8 sub-address
// of its first byte, 7..0 width in bytes (1 to 4). The channel offset given
// with every access is added to the bank (16 per channel for per-channel
// blocks).

#include "platform/devices.h"

#include <cstdint>

constexpr uint32_t C331_REG(uint32_t bank, uint32_t sub, uint32_t width)
{
    return (bank << 16) | (sub << 8) | width;
}

// Status of input channel ch's memory writer: the field it writes and the
// buffer slot it writes into, chip-wide, one register per channel.
constexpr uint32_t C331_ICH_WRITE_STATUS(int ch)
{
    return C331_REG(0xAB, 0x47 + static_cast<uint32_t>(ch), 1);
}

// The chip identity register and the value a present chip answers.
constexpr uint32_t C331_ID_REG = 0xB20801;
constexpr uint32_t C331_ID_VALUE = 0x24;

class c331_drv
{
public:
    static constexpr const char *DEVICE = platform::devices::CHIP_SPI;
    static constexpr uint32_t WRITE_HZ = 10000000;
    static constexpr uint32_t READ_HZ = 5000000;
    // Frames (and other records) the simulated chip that initialize() makes
    // for the program keeps.
    static constexpr size_t SIM_RECORD_LIMIT = 4096;

    c331_drv();

    // Opens and configures the chip's SPI device (mode 3, 8-bit words,
    // 10 MHz); the descriptor as opened. In simulation a chip model is
    // attached to the device path when none is there yet.
    int initialize();
    // Forgets the cached bank so that the next access selects its bank again.
    void init_reg_acc_param();

    // One full-duplex transfer (5 MHz) / one write-only transfer (10 MHz),
    // each under Utils::_spi_mutex with the flash routing set idle first.
    // The transfer's result; 0 or negative on failure.
    int SPI_Transfer(int fd, const uint8_t *tx, uint8_t *rx, int len);
    int SPI_Transfer_Write(int fd, const uint8_t *tx, int len);

    void write_C331(int fd, uint32_t reg, uint32_t value, int offset);
    uint32_t read_C331(int fd, uint32_t reg, int offset);
    // Bits set in mask take their value from `value`, the others keep the chip's.
    void write_c331_mask(int fd, uint32_t reg, uint32_t value, uint32_t mask, int offset);

    // Bank last selected (bank + offset), or -1 when unknown. Guarded by
    // Utils::_c331_bnk_mutex.
    int32_t cur_bank;

private:
    void select_bank(int fd, int32_t bank);
};

#endif
