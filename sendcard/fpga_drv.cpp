#include "sendcard/fpga_drv.h"

#include "app/utils.h"
#include "platform/platform.h"
#include "platform/sim_fpga.h"
#include "platform/spi.h"

#include <QMutexLocker>
#include <cstring>
#include <vector>

const char *const fpga_drv::DEVICE_PATH[2] = {"/dev/spidev32766.1", "/dev/spidev32766.2"};

namespace {

constexpr uint8_t OP_REG_WRITE = 0x00;
constexpr uint8_t OP_REG_READ = 0x40;
constexpr uint8_t OP_RAM_WRITE = 0x80;
constexpr uint8_t OP_RAM_READ = 0xC0;
constexpr uint8_t OP_CARD_SEND = 0x20;
constexpr uint8_t OP_CARD_READ = 0x30;
constexpr uint32_t SPI_SPEED = 25000000;

int g_fpga_fd[2] = {-1, -1};

void message(int fd, const uint8_t *tx, uint8_t *rx, uint32_t len)
{
    platform::spi::Xfer x;
    x.tx = tx;
    x.rx = rx;
    x.len = len;
    x.speed_hz = SPI_SPEED;
    QMutexLocker lock(&Utils::_spi_mutex);
    platform::spi::transfer(fd, &x, 1);
}

} // namespace

bool fpga_drv::open_devices()
{
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
        if (g_fpga_fd[i] >= 0)
            continue;
        if (platform::isSim() && !platform::spi::sim::attached(DEVICE_PATH[i]))
            platform::spi::sim::attach(DEVICE_PATH[i], std::make_shared<platform::simfpga::SimFpga>());
        g_fpga_fd[i] = platform::spi::open(DEVICE_PATH[i]);
        if (g_fpga_fd[i] < 0 || platform::spi::configure(g_fpga_fd[i], 0, 8, SPI_SPEED) < 0)
            ok = false;
    }
    return ok;
}

int fpga_drv::fd(uint8_t fpga)
{
    if (g_fpga_fd[fpga & 1] < 0)
        open_devices();
    return g_fpga_fd[fpga & 1];
}

void fpga_drv::write_reg(uint8_t fpga, uint8_t reg, uint8_t value)
{
    const uint8_t tx[3] = {OP_REG_WRITE, reg, value};
    message(fd(fpga), tx, nullptr, 3);
}

uint8_t fpga_drv::read_reg(uint8_t fpga, uint8_t reg)
{
    const uint8_t tx[3] = {OP_REG_READ, reg, 0};
    uint8_t rx[3] = {0, 0, 0};
    message(fd(fpga), tx, rx, 3);
    return rx[2];
}

void fpga_drv::write_ram(uint8_t fpga, uint8_t bank, uint32_t address, const uint8_t *buf, uint32_t len)
{
    std::vector<uint8_t> tx(4 + len);
    tx[0] = uint8_t(OP_RAM_WRITE | (bank & 0x3F));
    tx[1] = uint8_t(address >> 16);
    tx[2] = uint8_t(address >> 8);
    tx[3] = uint8_t(address);
    if (len)
        std::memcpy(tx.data() + 4, buf, len);
    message(fd(fpga), tx.data(), nullptr, uint32_t(tx.size()));
}

void fpga_drv::read_ram(uint8_t fpga, uint8_t bank, uint32_t address, uint8_t *buf, uint32_t len)
{
    std::vector<uint8_t> tx(5 + len, 0), rx(5 + len, 0);
    tx[0] = uint8_t(OP_RAM_READ | (bank & 0x3F));
    tx[1] = uint8_t(address >> 16);
    tx[2] = uint8_t(address >> 8);
    tx[3] = uint8_t(address);
    message(fd(fpga), tx.data(), rx.data(), uint32_t(tx.size()));
    if (len)
        std::memcpy(buf, rx.data() + 5, len);
}

void fpga_drv::send_card_frame(uint8_t fpga, uint8_t port, const uint8_t *buf, uint32_t len)
{
    std::vector<uint8_t> tx(4 + len);
    tx[0] = OP_CARD_SEND;
    tx[1] = port;
    tx[2] = uint8_t(len >> 8);
    tx[3] = uint8_t(len);
    if (len)
        std::memcpy(tx.data() + 4, buf, len);
    message(fd(fpga), tx.data(), nullptr, uint32_t(tx.size()));
}

void fpga_drv::read_card_frame(uint8_t fpga, uint8_t port, uint8_t *buf, uint32_t len)
{
    std::vector<uint8_t> tx(4 + len, 0), rx(4 + len, 0);
    tx[0] = OP_CARD_READ;
    tx[1] = port;
    message(fd(fpga), tx.data(), rx.data(), uint32_t(tx.size()));
    if (len)
        std::memcpy(buf, rx.data() + 4, len);
}
