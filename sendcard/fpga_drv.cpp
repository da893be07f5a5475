#include "sendcard/fpga_drv.h"

#include "app/utils.h"
#include "platform/devices.h"
#include "platform/platform.h"
#include "platform/sim_fpga.h"
#include "platform/sim_spi_flash.h"
#include "platform/spi.h"
#include "platform/timing.h"
#include "sendcard/fpga_gpio.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

const char *const fpga_drv::DEVICE_PATH[2] = {platform::devices::FPGA_SPI[0], platform::devices::FPGA_SPI[1]};
const char *const fpga_drv::FLASH_DEVICE_PATH = platform::devices::FLASH_SPI;

namespace {

constexpr uint8_t OP_REG_WRITE = 0x00;
constexpr uint8_t OP_REG_READ = 0x40;
constexpr uint8_t OP_RAM_WRITE = 0x80;
constexpr uint8_t OP_RAM_READ = 0xC0;
constexpr uint8_t OP_CARD_SEND = 0x20;
constexpr uint8_t OP_CARD_READ = 0x30;
constexpr uint32_t SPI_SPEED = 25000000;

constexpr uint32_t FLASH_SPEED = 20000000;
constexpr uint32_t FLASH_READ_CHUNK = 4096;   // bytes per read message
constexpr unsigned FLASH_BUSY_POLLS = 200000;  // status reads before giving up on an erase

int g_fpga_fd[2] = {-1, -1};
int g_flash_fd = -1;
std::mutex g_flash_open_mutex;   // makes the first open of the flash device happen once

void message(int fd, const uint8_t *tx, uint8_t *rx, uint32_t len)
{
    platform::spi::Xfer x;
    x.tx = tx;
    x.rx = rx;
    x.len = len;
    x.speed_hz = SPI_SPEED;
    std::lock_guard<platform::spi::BusMutex> lock(Utils::_spi_mutex);
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
        if (g_fpga_fd[i] < 0 ||
            platform::spi::configure(g_fpga_fd[i], platform::spi::BUS_MODE, platform::spi::BUS_BITS, SPI_SPEED) < 0)
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

// --- Configuration flashes ---------------------------------------------------

namespace {

constexpr uint8_t FL_WREN = 0x06;
constexpr uint8_t FL_RDSR = 0x05;
constexpr uint8_t FL_READ = 0x03;
constexpr uint8_t FL_PROGRAM = 0x02;
constexpr uint8_t FL_UID = 0x4B;
constexpr uint8_t FL_ERASE[3] = {0x20, 0x52, 0xD8};
constexpr uint32_t FL_ERASE_SIZE[3] = {4096, 32768, 65536};

// Flash path of a selector: 0 (FPGA 0), 1 (FPGA 1), or -1.
int route_of(uint8_t selector)
{
    return selector == 2 ? 0 : selector == 3 ? 1 : -1;
}

void put_address(uint8_t *p, uint8_t cmd, uint32_t address)
{
    p[0] = cmd;
    p[1] = uint8_t(address >> 16);
    p[2] = uint8_t(address >> 8);
    p[3] = uint8_t(address);
}

// One message to the routed flash; the caller holds Utils::_spi_mutex.
void flash_message(int fd, const uint8_t *tx, uint8_t *rx, uint32_t len)
{
    platform::spi::Xfer x;
    x.tx = tx;
    x.rx = rx;
    x.len = len;
    x.speed_hz = FLASH_SPEED;
    platform::spi::transfer(fd, &x, 1);
}

void wait_ready(int fd)
{
    for (unsigned i = 0; i < FLASH_BUSY_POLLS; ++i) {
        const uint8_t tx[2] = {FL_RDSR, 0};
        uint8_t rx[2] = {0xFF, 0xFF};
        flash_message(fd, tx, rx, 2);
        if (!(rx[1] & 1))
            return;
        platform::pauseUs(10);
    }
}

void write_enable(int fd)
{
    const uint8_t tx[1] = {FL_WREN};
    flash_message(fd, tx, nullptr, 1);
}

// Puts flash path n on the bus for the lifetime of the object and returns
// the bus to idle afterwards, all under Utils::_spi_mutex.
class FlashRoute
{
public:
    explicit FlashRoute(int n) : m_lock(Utils::_spi_mutex)
    {
        fpga_gpio::route_idle();
        fpga_gpio::write_route(n, fpga_gpio::ROUTE_SELECTED);
    }
    ~FlashRoute() { fpga_gpio::route_idle(); }

private:
    std::lock_guard<platform::spi::BusMutex> m_lock;
};

} // namespace

int fpga_drv::flash_fd()
{
    std::lock_guard<std::mutex> lock(g_flash_open_mutex);
    if (g_flash_fd >= 0)
        return g_flash_fd;
    if (platform::isSim() && !platform::spi::sim::attached(FLASH_DEVICE_PATH))
        platform::spi::sim::attach(FLASH_DEVICE_PATH,
                                   std::make_shared<platform::simflash::SimFlashBus>(fpga_gpio::FLASH_ROUTE));
    int fd = platform::spi::open(FLASH_DEVICE_PATH);
    if (fd >= 0 && platform::spi::configure(fd, platform::spi::BUS_MODE, platform::spi::BUS_BITS, FLASH_SPEED) < 0) {
        platform::spi::close(fd);
        fd = -1;
    }
    g_flash_fd = fd;
    return fd;
}

void fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(uint8_t selector, uint32_t unit, uint8_t mode, uint32_t count)
{
    int n = route_of(selector);
    int fd = flash_fd();
    if (n < 0 || fd < 0 || mode > 2)
        return;
    FlashRoute route(n);
    uint32_t address = unit * 4096;
    for (uint32_t i = 0; i < count && address < FLASH_SIZE; ++i, address += FL_ERASE_SIZE[mode]) {
        uint8_t tx[4];
        put_address(tx, FL_ERASE[mode], address);
        write_enable(fd);
        flash_message(fd, tx, nullptr, 4);
        wait_ready(fd);
    }
}

void fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(uint8_t selector, uint32_t address, uint8_t *buffer, uint32_t length)
{
    int n = route_of(selector);
    if (n < 0 || length == 0 || address >= FLASH_SIZE || length > FLASH_SIZE - address)
        return;
    int fd = flash_fd();
    if (fd < 0)
        return;
    FlashRoute route(n);
    uint32_t done = 0;
    while (done < length) {
        uint32_t a = address + done;
        uint32_t chunk = std::min(length - done, FLASH_PAGE - (a % FLASH_PAGE));
        uint8_t *msg = buffer + done;   // the 4 bytes in front of this page's data
        put_address(msg, FL_PROGRAM, a);
        write_enable(fd);
        flash_message(fd, msg, nullptr, 4 + chunk);
        wait_ready(fd);
        done += chunk;
    }
}

void fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(uint8_t selector, uint32_t address, uint32_t length, uint8_t *buffer)
{
    if (length)
        std::memset(buffer, 0xFF, length);
    int n = route_of(selector);
    int fd = flash_fd();
    if (n < 0 || fd < 0 || address >= FLASH_SIZE)
        return;
    length = std::min(length, FLASH_SIZE - address);
    FlashRoute route(n);
    std::vector<uint8_t> tx(4 + FLASH_READ_CHUNK, 0), rx(4 + FLASH_READ_CHUNK, 0xFF);
    for (uint32_t done = 0; done < length;) {
        uint32_t chunk = std::min(length - done, FLASH_READ_CHUNK);
        put_address(tx.data(), FL_READ, address + done);
        flash_message(fd, tx.data(), rx.data(), 4 + chunk);
        std::memcpy(buffer + done, rx.data() + 4, chunk);
        done += chunk;
    }
}

void fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(uint8_t selector, uint8_t *buffer)
{
    std::memset(buffer, 0xFF, 8);
    int n = route_of(selector);
    int fd = flash_fd();
    if (n < 0 || fd < 0)
        return;
    FlashRoute route(n);
    uint8_t tx[13] = {FL_UID};
    uint8_t rx[13];
    std::memset(rx, 0xFF, sizeof rx);
    flash_message(fd, tx, rx, sizeof tx);
    std::memcpy(buffer, rx + 5, 8);
}
