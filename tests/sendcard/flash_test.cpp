#include "flash_fixture.h"

#include "app/global.h"
#include "sendcard/clock_record_run.h"

using pctool::Bytes;
using pctool::pattern;

namespace {

// Writes `data` at `address` of flash `selector` through the driver.
void write(uint8_t selector, uint32_t address, const Bytes &data)
{
    Bytes buf(4 + data.size());
    std::copy(data.begin(), data.end(), buf.begin() + 4);
    fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(selector, address, buf.data(), uint32_t(data.size()));
}

Bytes read(uint8_t selector, uint32_t address, uint32_t len)
{
    Bytes out(len);
    fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(selector, address, len, out.data());
    return out;
}

} // namespace

TEST_F(FlashTest, WritesCrossPagesAndReachOnlyTheSelectedFlash)
{
    const Bytes data = pattern(1000, 3);
    write(3, 0x3080F0, data);   // starts 16 bytes before a page boundary
    EXPECT_EQ(flash[1]->read(0x3080F0, 1000), data);
    EXPECT_EQ(read(3, 0x3080F0, 1000), data);
    EXPECT_EQ(flash[1]->read(0x3080EF, 1), Bytes{0xFF});
    EXPECT_EQ(flash[0]->programCount(), 0u);
    EXPECT_EQ(flash[0]->read(0x3080F0, 1000), Bytes(1000, 0xFF));
    EXPECT_TRUE(routesIdle());

    // Erase takes 4 KB units; only the addressed block is cleared.
    write(2, 0x10FFF, {0x12, 0x34});
    fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 0x11, 0, 1);
    EXPECT_EQ(flash[0]->read(0x10FFF, 2), (Bytes{0x12, 0xFF}));
    fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(2, 0x10, 2, 1);   // 64 KB block
    EXPECT_EQ(flash[0]->read(0x10FFF, 1), Bytes{0xFF});
    EXPECT_TRUE(routesIdle());
}

namespace {

// Counts the data bytes of the flashes' read messages on their way to the bus.
class ReadCount : public platform::spi::sim::Device
{
public:
    explicit ReadCount(std::shared_ptr<platform::spi::sim::Device> bus) : m_bus(std::move(bus)) {}
    void transfer(const platform::spi::Xfer &x) override
    {
        if (x.tx && x.len > 4 && x.tx[0] == 0x03) {
            ++messages;
            bytes += x.len - 4;
        }
        m_bus->transfer(x);
    }
    void endMessage() override { m_bus->endMessage(); }

    unsigned messages = 0;
    size_t bytes = 0;

private:
    std::shared_ptr<platform::spi::sim::Device> m_bus;
};

} // namespace

// A read longer than one bus message: every part comes from its own address,
// and the flash is clocked for the bytes asked and no more.
TEST_F(FlashTest, LongReadTakesEachPartFromItsOwnAddress)
{
    Bytes data(10000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + i / 251);   // no two 4 KB stretches alike
    flash[1]->preset(0x123456, data);
    auto count = std::make_shared<ReadCount>(bus);
    platform::spi::sim::attach(fpga_drv::FLASH_DEVICE_PATH, count);
    EXPECT_EQ(read(3, 0x123456, 10000), data);
    EXPECT_GT(count->messages, 1u);
    EXPECT_EQ(count->bytes, 10000u);
    EXPECT_TRUE(routesIdle());
}

TEST_F(FlashTest, RefusedWritesAndUnknownSelectorsTouchNothing)
{
    write(2, 0x7FFFFF, {1, 2});   // runs past the end
    write(2, 0x100, {});
    write(4, 0x100, {1});
    fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(1, 0, 0, 1);
    EXPECT_EQ(flash[0]->programCount() + flash[1]->programCount(), 0u);
    EXPECT_EQ(flash[0]->eraseCount() + flash[1]->eraseCount(), 0u);
    EXPECT_EQ(read(2, 0x7FFFFE, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(FlashTest, FlashAnswersOnlyWhileItsRouteIsSelected)
{
    flash[0]->preset(0, {0x5A});
    uint8_t tx[5] = {0x03, 0, 0, 0, 0};
    uint8_t rx[5];
    platform::spi::Xfer x;
    x.tx = tx;
    x.rx = rx;
    x.len = 5;
    fpga_gpio::route_idle();
    bus->transfer(x);
    EXPECT_EQ(rx[4], 0xFF);
    fpga_gpio::write_route(0, 0);
    fpga_gpio::write_route(1, 0);   // both on the bus: nobody answers
    bus->transfer(x);
    EXPECT_EQ(rx[4], 0xFF);
    fpga_gpio::write_route(1, fpga_gpio::ROUTE_IDLE);
    bus->transfer(x);
    EXPECT_EQ(rx[4], 0x5A);
}

// Every road to the FPGAs and their flashes holds the SPI lock the chip
// shares; the simulated bus counts each transfer made without it.
TEST_F(FlashTest, EveryFpgaAndFlashTransferHoldsTheBusLock)
{
    auto unlocked = [] {
        return platform::spi::sim::unlockedTransfers(fpga_drv::DEVICE_PATH[0]) +
               platform::spi::sim::unlockedTransfers(fpga_drv::DEVICE_PATH[1]) +
               platform::spi::sim::unlockedTransfers(fpga_drv::FLASH_DEVICE_PATH);
    };
    const unsigned before = unlocked();
    uint8_t buf[8] = {1, 2, 3, 4};
    for (uint8_t n : {0, 1}) {
        fpga_drv::write_reg(n, 5, 1);
        fpga_drv::read_reg(n, 5);
        fpga_drv::write_ram(n, 1, 0x10, buf, 4);
        fpga_drv::read_ram(n, 1, 0x10, buf, 4);
        fpga_drv::send_card_frame(n, 0, buf, 4);
        fpga_drv::read_card_frame(n, 0, buf, 4);
        fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(uint8_t(n + 2), 0, 0, 1);
        write(uint8_t(n + 2), 0x100, Bytes{1});
        read(uint8_t(n + 2), 0x100, 1);
        fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(uint8_t(n + 2), buf);
        EXPECT_EQ(fpga[n]->reg(5), 1);
        EXPECT_EQ(flash[n]->programCount(), 1u);
    }
    EXPECT_EQ(unlocked(), before);

    const int fd = platform::spi::open(fpga_drv::DEVICE_PATH[1]);
    platform::spi::Xfer x;
    x.len = 3;
    platform::spi::transfer(fd, &x, 1);
    EXPECT_EQ(unlocked(), before + 1);
}

TEST_F(FlashTest, EachFlashHasItsOwnUniqueId)
{
    uint8_t a[8], b[8];
    fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(2, a);
    fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(3, b);
    const auto ua = flash[0]->uid(), ub = flash[1]->uid();
    EXPECT_EQ(Bytes(a, a + 8), Bytes(ua.begin(), ua.end()));
    EXPECT_EQ(Bytes(b, b + 8), Bytes(ub.begin(), ub.end()));
    EXPECT_NE(Bytes(a, a + 8), Bytes(b, b + 8));
}

TEST_F(FlashTest, ResetLineIsHeldForMoreThanFiftyTicks)
{
    const uint32_t line = fpga_manage::FPGA_RST_GPIO[1];
    platform::devmem::sim::poke16(line, fpga_manage::RST_RELEASED);
    card->set_reg_shadow(1, 80, 3);
    card->set_reg_shadow(1, 31, 7);
    card->vbyone_ready[1] = 1;
    G_timeTicks = 1000;
    card->reset_fpga_rst(1);
    EXPECT_EQ(platform::devmem::sim::peek16(line), fpga_manage::RST_ACTIVE);
    EXPECT_EQ(card->vbyone_ready[1].load(), 0);

    G_timeTicks = 1050;
    card->check_fpga_rst();
    EXPECT_EQ(platform::devmem::sim::peek16(line), fpga_manage::RST_ACTIVE);
    G_timeTicks = 1051;
    card->check_fpga_rst();
    EXPECT_EQ(platform::devmem::sim::peek16(line), fpga_manage::RST_RELEASED);
    EXPECT_EQ(card->reset_pending[1].load(), 0);
    EXPECT_EQ(card->reg_shadow(1, 80), 0);
    EXPECT_EQ(card->reg_shadow(1, 31), 0);
}

TEST_F(FlashTest, BackImageRoundTripMovesPortPositionsByTheWallStart)
{
    card->with_pages([](card_pages &c) {
        uint8_t *page = c.MCU_RAM_PARA_func[0];
        para::set16(page, 520, 100);   // port record 0: x, y
        para::set16(page, 522, 40);
        page[8] = 0x11;                // mirrored network byte
        page[11] = 0x22;               // not mirrored
    });
    card->R47_back_mcu_set_net_para(0);
    EXPECT_EQ(para::get16(pages().MCU_RAM_ETH_BACK_PARA_func[0], 36), 100);
    EXPECT_EQ(pages().MCU_RAM_ETH_BACK_PARA_func[0][4], 0x11);

    para::set16(store->ram_para, para::LED_X, 8);
    para::set16(store->ram_para, para::LED_Y, 2);
    card->with_pages([](card_pages &c) { c.MCU_RAM_PARA_func[0][8] = 0; });
    card->R47_mcu_set_net_para(0);
    const card_pages after = pages();
    const uint8_t *page = after.MCU_RAM_PARA_func[0];
    EXPECT_EQ(para::get16(page, 520), 108);
    EXPECT_EQ(para::get16(page, 522), 42);
    EXPECT_EQ(page[8], 0x11);
    EXPECT_EQ(page[11], 0x22);
}

TEST_F(FlashTest, ClockMarkStartsTheNextRecordInTheRunLog)
{
    std::memset(g_clock_record, 0, sizeof g_clock_record);
    g_clock_record[20] = 63;   // sequence 63: the next record opens a fresh 4 KB sector
    const uint32_t slot = clock_record_run::slot_address(64);
    ASSERT_EQ(slot % 4096, 0u);
    flash[0]->preset(slot, Bytes(8, 0x00));   // stale bytes from an earlier lap
    clock_record_run::dealwith_record_timing();
    EXPECT_EQ(clock_record_word(5), 64u);
    EXPECT_EQ(flash[0]->read(slot, 64), Bytes(g_clock_record, g_clock_record + 64));
    EXPECT_EQ(flash[1]->programCount(), 0u);
    EXPECT_NE(g_clock_record[12] | g_clock_record[11], 0);   // a BCD start stamp was set
}
