#include "videoproc/c331_drv.h"

#include "app/logMsg.h"
#include "app/utils.h"
#include "platform/platform.h"
#include "platform/sim_c331.h"
#include "platform/spi.h"
#include "sendcard/fpga_gpio.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace {

int transfer_locked(int fd, const uint8_t *tx, uint8_t *rx, int len, uint32_t hz)
{
    platform::spi::Xfer x;
    x.tx = tx;
    x.rx = rx;
    x.len = static_cast<uint32_t>(len);
    x.speed_hz = hz;
    x.bits_per_word = 8;
    x.delay_usecs = 0;
    x.cs_change = false;
    int ret;
    {
        std::lock_guard<platform::spi::BusMutex> lock(Utils::_spi_mutex);
        fpga_gpio::route_idle();
        ret = platform::spi::transfer(fd, &x, 1);
    }
    if (ret <= 0)
        perror("can't send spi message\n");
    return ret;
}

} // namespace

c331_drv::c331_drv() : cur_bank(-1) {}

int c331_drv::initialize()
{
    if (platform::isSim() && !platform::spi::sim::attached(DEVICE)) {
        // The chip's serial flash keeps what was written across restarts; its
        // registers and what its memory engine did are shown under /sim.
        // Nobody reads its records in memory, so it keeps only the latest.
        auto chip = std::make_shared<platform::sim::SimC331>();
        chip->setRecordLimit(SIM_RECORD_LIMIT);
        chip->flash().attachFile(platform::sim::SimC331Flash::BACKING_FILE);
        chip->attachRegisterFile(platform::sim::SimC331::REGISTER_FILE);
        chip->engine().attachLog(platform::sim::SimC331Engine::LOG_FILE);
        platform::spi::sim::attach(DEVICE, chip);
    }
    int fd = platform::spi::open(DEVICE);
    platform::spi::configure(fd, platform::spi::BUS_MODE, platform::spi::BUS_BITS, WRITE_HZ);
    return fd;
}

void c331_drv::init_reg_acc_param()
{
    std::lock_guard<std::mutex> lock(Utils::_c331_bnk_mutex);
    cur_bank = -1;
}

int c331_drv::SPI_Transfer(int fd, const uint8_t *tx, uint8_t *rx, int len)
{
    return transfer_locked(fd, tx, rx, len, READ_HZ);
}

int c331_drv::SPI_Transfer_Write(int fd, const uint8_t *tx, int len)
{
    return transfer_locked(fd, tx, nullptr, len, WRITE_HZ);
}

// Called with _c331_bnk_mutex held. A failed select leaves the bank unknown,
// so that the next access selects it again.
void c331_drv::select_bank(int fd, int32_t bank)
{
    if (bank == cur_bank)
        return;
    uint8_t tx[2] = {0x80, static_cast<uint8_t>(bank & 0xFF)};
    cur_bank = SPI_Transfer_Write(fd, tx, 2) > 0 ? bank : -1;
}

void c331_drv::write_C331(int fd, uint32_t reg, uint32_t value, int offset)
{
    std::lock_guard<std::mutex> lock(Utils::_c331_bnk_mutex);
    select_bank(fd, static_cast<int32_t>((reg >> 16) & 0xFF) + offset);
    uint32_t sub = (reg >> 8) & 0xFF;
    uint32_t width = reg & 0xFF;
    for (uint32_t i = 0; i < width; ++i) {
        uint8_t tx[2] = {static_cast<uint8_t>(0x80 | (sub + i)), static_cast<uint8_t>(value & 0xFF)};
        if (SPI_Transfer_Write(fd, tx, 2) <= 0)
            cur_bank = -1;
        value >>= 8;
    }
}

uint32_t c331_drv::read_C331(int fd, uint32_t reg, int offset)
{
    std::lock_guard<std::mutex> lock(Utils::_c331_bnk_mutex);
    select_bank(fd, static_cast<int32_t>((reg >> 16) & 0xFF) + offset);
    uint32_t sub = (reg >> 8) & 0xFF;
    uint32_t width = reg & 0xFF;
    uint32_t result = 0;
    for (uint32_t i = 0; i < width; ++i) {
        uint8_t tx[2] = {static_cast<uint8_t>((sub + i) & 0x7F), 0xFF};
        uint8_t rx[2] = {0, 0};
        if (SPI_Transfer(fd, tx, rx, 2) <= 0) {
            // Nothing received is used from a failed transfer.
            cur_bank = -1;
            continue;
        }
        if (i < 4)
            result |= uint32_t(rx[1]) << (8 * i);
    }
    return result;
}

void c331_drv::write_c331_mask(int fd, uint32_t reg, uint32_t value, uint32_t mask, int offset)
{
    uint32_t old = read_C331(fd, reg, offset);
    write_C331(fd, reg, old ^ ((value ^ old) & mask), offset);
}
