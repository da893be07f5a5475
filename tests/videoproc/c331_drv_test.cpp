#include "chip_fixture.h"

#include "platform/devmem.h"
#include "sendcard/fpga_gpio.h"

using namespace chiptest;

namespace {

class DrvTest : public ChipTest
{
protected:
    void SetUp() override
    {
        ChipTest::SetUp();
        fd = drv.initialize();
    }
    c331_drv drv;
    int fd = -1;
};

TEST_F(DrvTest, WritesAreFramedLeastSignificantByteFirstWithOneBankSelect)
{
    uint64_t m = chip->mark();
    drv.write_C331(fd, 0x034902, 0x3456, 0);
    drv.write_C331(fd, 0x034B01, 0x12, 0);
    auto f = chip->framesSince(m);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_TRUE(f[0].select);
    EXPECT_EQ(f[0].value, 0x03);
    EXPECT_EQ(f[1].sub, 0x49);
    EXPECT_EQ(f[1].value, 0x56);
    EXPECT_EQ(f[2].sub, 0x4A);
    EXPECT_EQ(f[2].value, 0x34);
    EXPECT_EQ(chip->value(0x034902), 0x3456u);

    // The same descriptor one channel up selects bank + 16.
    m = chip->mark();
    drv.write_C331(fd, 0x034902, 0x0102, 16);
    EXPECT_EQ(chip->bankSelects(m), 1u);
    EXPECT_EQ(chip->value(0x034902, 16), 0x0102u);

    // After the cache is forgotten the same bank is selected again.
    drv.init_reg_acc_param();
    m = chip->mark();
    drv.write_C331(fd, 0x134902, 1, 0);
    EXPECT_EQ(chip->bankSelects(m), 1u);
}

TEST_F(DrvTest, ReadsAssembleBytesAndMaskedWritesKeepOtherBits)
{
    chip->setReg(0x05, 0x10, 0x78);
    chip->setReg(0x05, 0x11, 0x56);
    uint64_t m = chip->mark();
    EXPECT_EQ(drv.read_C331(fd, 0x051002, 0), 0x5678u);
    auto f = chip->framesSince(m);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_FALSE(f[1].write);
    EXPECT_EQ(f[1].sub, 0x10);

    chip->setReg(0x05, 0x20, 0xA5);
    drv.write_c331_mask(fd, 0x052001, 0x00, 0x00, 0);
    EXPECT_EQ(chip->writeHistory(0x05, 0x20), std::vector<uint8_t>{0xA5});
    drv.write_c331_mask(fd, 0x052001, 0x0F, 0x03, 0);
    EXPECT_EQ(chip->reg(0x05, 0x20), 0xA7);
    EXPECT_EQ(drv.read_C331(fd, C331_ID_REG, 0), C331_ID_VALUE);
}

// A bank select that fails, or moves nothing, must not leave the cache
// claiming that bank.
TEST_F(DrvTest, FailedBankSelectIsSelectedAgain)
{
    for (int result : {-1, 0}) {
        SCOPED_TRACE(result);
        drv.write_C331(fd, 0x071001, 0x11, 0);
        platform::spi::sim::failTransfers(c331_drv::DEVICE, 1, result);
        drv.write_C331(fd, 0x091001, 0x22, 0);   // select fails, data lands in bank 7
        EXPECT_EQ(drv.cur_bank, -1);
        drv.write_C331(fd, 0x091001, 0x33, 0);
        EXPECT_EQ(chip->reg(0x09, 0x10), 0x33);
        EXPECT_EQ(drv.cur_bank, 0x09);
    }

    // A read whose transfer fails does not use what came back.
    chip->setReg(0x09, 0x11, 0x44);
    platform::spi::sim::failTransfers(c331_drv::DEVICE, 1);
    EXPECT_EQ(drv.read_C331(fd, 0x091101, 0), 0u);
    EXPECT_EQ(drv.cur_bank, -1);
    EXPECT_EQ(drv.read_C331(fd, 0x091101, 0), 0x44u);
}

TEST_F(DrvTest, TransfersRouteTheBusAwayFromTheFpgaFlashes)
{
    fpga_gpio::write_route(0, fpga_gpio::ROUTE_SELECTED);
    fpga_gpio::write_route(1, fpga_gpio::ROUTE_SELECTED);
    drv.write_C331(fd, 0x000801, 1, 0);
    EXPECT_EQ(platform::devmem::sim::peek16(fpga_gpio::FLASH_ROUTE[0]), fpga_gpio::ROUTE_IDLE);
    EXPECT_EQ(platform::devmem::sim::peek16(fpga_gpio::FLASH_ROUTE[1]), fpga_gpio::ROUTE_IDLE);
}

TEST_F(DrvTest, SimulatedStatusRegistersAnswerDoneUnlessMadeBusy)
{
    chip->defineStatus(0x0A, 0x70, 0xFF, 0x00);
    EXPECT_EQ(drv.read_C331(fd, 0x0A7001, 0), 0xFFu);
    chip->setBusy(0x0A, 0x70, 2);
    EXPECT_EQ(drv.read_C331(fd, 0x0A7001, 0), 0x00u);
    EXPECT_EQ(drv.read_C331(fd, 0x0A7001, 0), 0x00u);
    EXPECT_EQ(drv.read_C331(fd, 0x0A7001, 0), 0xFFu);
    chip->setBusy(0x0A, 0x70, SimC331::NEVER);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(drv.read_C331(fd, 0x0A7001, 0), 0x00u);

    chip->setIdentity(0x11);
    EXPECT_EQ(drv.read_C331(fd, C331_ID_REG, 0), 0x11u);
    drv.write_C331(fd, C331_ID_REG, 0x24, 0);   // read-only
    EXPECT_EQ(drv.read_C331(fd, C331_ID_REG, 0), 0x11u);
}

// The chip the driver makes for the program in simulation keeps a short
// record of its traffic, however long the program runs.
TEST_F(ChipTest, ProgramsSimulatedChipKeepsAShortRecord)
{
    platform::spi::sim::detachAll();
    c331_drv own;
    const int ownFd = own.initialize();
    auto model = std::dynamic_pointer_cast<SimC331>(platform::spi::sim::attached(c331_drv::DEVICE));
    ASSERT_TRUE(model);
    for (uint32_t k = 0; k < 2 * c331_drv::SIM_RECORD_LIMIT; ++k)
        own.write_C331(ownFd, 0x034901, k & 0xFF, 0);
    EXPECT_EQ(model->log().size(), c331_drv::SIM_RECORD_LIMIT);
    EXPECT_EQ(model->log().back().seq, model->mark() - 1);
}

} // namespace
