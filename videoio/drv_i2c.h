#ifndef VIDEOIO_DRV_I2C_H
#define VIDEOIO_DRV_I2C_H

// I2C bus 0 of the board (/dev/i2c-0): register writes and combined
// write/read transfers to devices named by their 8-bit address.
// Results: 1 = done, 0 = not done.

#include <cstdint>

class Drv_I2C0
{
public:
    // Opens the bus; a descriptor, or -1.
    static int I2C_Open();
    static void I2C_Close(int fd);

    // Writes `len` bytes from register `reg` on.
    static int I2C_WriteBytes(int fd, uint8_t addr8, uint8_t reg, const uint8_t *data, uint16_t len);
    // Writes the register pointer, then reads `len` bytes (one combined transfer).
    static int I2C_ReadBytes(int fd, uint8_t addr8, uint8_t reg, uint8_t *data, uint16_t len);
    // Writes raw bytes with no register pointer (multiplexer control byte).
    static int I2C_WriteRaw(int fd, uint8_t addr8, const uint8_t *data, uint16_t len);

    static int I2C_WriteByte(int fd, uint8_t addr8, uint8_t reg, uint8_t value)
    {
        return I2C_WriteBytes(fd, addr8, reg, &value, 1);
    }
};

#endif
