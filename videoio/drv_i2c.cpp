#include "videoio/drv_i2c.h"

#include "platform/devices.h"
#include "platform/i2c.h"

#include <vector>

int Drv_I2C0::I2C_Open()
{
    return platform::i2c::open(platform::devices::I2C_BUS);
}

void Drv_I2C0::I2C_Close(int fd)
{
    platform::i2c::close(fd);
}

int Drv_I2C0::I2C_WriteBytes(int fd, uint8_t addr8, uint8_t reg, const uint8_t *data, uint16_t len)
{
    if (len > 0 && !data)
        return 0;
    std::vector<uint8_t> buf(static_cast<size_t>(len) + 1);
    buf[0] = reg;
    std::copy(data, data + len, buf.begin() + 1);
    platform::i2c::Msg m;
    m.addr8 = addr8;
    m.buf = buf.data();
    m.len = static_cast<uint16_t>(buf.size());
    return platform::i2c::transfer(fd, &m, 1) ? 1 : 0;
}

int Drv_I2C0::I2C_ReadBytes(int fd, uint8_t addr8, uint8_t reg, uint8_t *data, uint16_t len)
{
    if (!data || len == 0)
        return 0;
    platform::i2c::Msg m[2];
    m[0].addr8 = addr8;
    m[0].buf = &reg;
    m[0].len = 1;
    m[1].addr8 = addr8;
    m[1].read = true;
    m[1].buf = data;
    m[1].len = len;
    return platform::i2c::transfer(fd, m, 2) ? 1 : 0;
}

int Drv_I2C0::I2C_WriteRaw(int fd, uint8_t addr8, const uint8_t *data, uint16_t len)
{
    if (!data || len == 0)
        return 0;
    std::vector<uint8_t> buf(data, data + len);
    platform::i2c::Msg m;
    m.addr8 = addr8;
    m.buf = buf.data();
    m.len = len;
    return platform::i2c::transfer(fd, &m, 1) ? 1 : 0;
}
