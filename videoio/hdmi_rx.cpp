#include "videoio/hdmi_rx.h"

#include "app/utils.h"
#include "videoio/drv_i2c.h"

#include <cstring>
#include <mutex>

namespace rx = platform::i2c::rx;

int hdmi_rx::refresh(int fd)
{
    uint8_t block[rx::BLOCK_SIZE];
    if (!Drv_I2C0::I2C_ReadBytes(fd, addr8, rx::STATUS, block, sizeof block))
        return 0;
    std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
    std::memcpy(regs, block, sizeof regs);
    return 1;
}

void hdmi_rx::clear()
{
    std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
    std::memset(regs, 0, sizeof regs);
}

hdminfo hdmi_rx::record() const
{
    hdminfo r{};
    const uint8_t status = regs[rx::STATUS];
    r.nosignal = 1;
    r.stable = 1;
    if (!(status & rx::STATUS_SIGNAL))
        return r;
    if (!(status & rx::STATUS_STABLE)) {
        r.stable = 0;
        return r;
    }
    auto word = [this](uint8_t reg) { return int32_t(regs[reg] | regs[reg + 1] << 8); };
    r.Hact = word(rx::HACT);
    r.Hsync = word(rx::HSYNC);
    r.Hback = word(rx::HBACK);
    r.Hpol = (status & rx::STATUS_HPOL) ? 1 : 0;
    r.Htotal = word(rx::HTOTAL);
    r.Vact = word(rx::VACT);
    r.Vsync = word(rx::VSYNC);
    r.Vback = word(rx::VBACK);
    r.Vpol = (status & rx::STATUS_VPOL) ? 1 : 0;
    r.Vtotal = word(rx::VTOTAL);
    const uint32_t khz = regs[rx::PCLK_KHZ] | regs[rx::PCLK_KHZ + 1] << 8 | uint32_t(regs[rx::PCLK_KHZ + 2]) << 16;
    r.pfreq = static_cast<float>(khz / 1000.0);
    r.type = regs[rx::TYPE];
    r.datamode = (status & rx::STATUS_DUAL_PIXEL) ? 1 : 0;
    r.lane = regs[rx::LANES];
    r.ip = (status & rx::STATUS_INTERLACED) ? 1 : 0;
    r.nosignal = 0;
    return r;
}
