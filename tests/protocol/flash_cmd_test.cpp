// Flash commands 0x70 / 0x71 / 0x72 against the simulated chip flash, the two
// FPGA configuration flashes and the run-log window.

#include "../sendcard/flash_fixture.h"

#include "platform/sim_c331.h"
#include "protocol/message_deal.h"
#include "videoproc/c331_drv.h"

using pctool::Bytes;
using pctool::pattern;
using Op = platform::sim::SimC331Flash::Op;

namespace {

constexpr uint16_t LOCAL = pctool::CONTROLLER;
constexpr uint16_t CARD = 0x0001;

class FlashCmdTest : public FlashTest
{
protected:
    void SetUp() override
    {
        FlashTest::SetUp();
        g_debugSwitch = 0;
        chipModel = std::make_shared<platform::sim::SimC331>();
        platform::spi::sim::attach(c331_drv::DEVICE, chipModel);
        chip->c331_fd = chip->c331drv->initialize();
    }
    void TearDown() override
    {
        chip->c331_fd = -1;
        FlashTest::TearDown();
    }

    // Reply data (status, then any data); the buffer is 0xEE before.
    Bytes run(const Bytes &request)
    {
        buf.assign(70000, 0xEE);
        std::copy(request.begin(), request.end(), buf.begin());
        uint32_t n = deal.message_group_deal(buf.data(), uint32_t(request.size()), 1);
        return Bytes(buf.begin() + 10, buf.begin() + 10 + n);
    }
    uint8_t erase(uint32_t a, uint8_t mode, uint8_t count, uint16_t dest = LOCAL, uint8_t sel7 = 0)
    {
        return run(pctool::flashErase(dest, a, mode, count, 0, sel7)).at(0);
    }
    uint8_t write(uint32_t a, const Bytes &data, uint16_t dest = LOCAL, uint8_t sel7 = 0)
    {
        return run(pctool::flashWrite(dest, a, data, 0, sel7)).at(0);
    }
    Bytes read(uint32_t a, uint16_t len, uint16_t dest = LOCAL) { return run(pctool::flashRead(dest, a, len)); }

    std::vector<uint32_t> chipErases()
    {
        std::vector<uint32_t> out;
        for (const Op &op : chipModel->flash().ops())
            if (op.kind == Op::Erase)
                out.push_back(op.address);
        return out;
    }
    static Bytes with(uint8_t status, const Bytes &data)
    {
        Bytes b = {status};
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }

    std::shared_ptr<platform::sim::SimC331> chipModel;
    message_deal deal;
    std::vector<uint8_t> buf;
};

TEST_F(FlashCmdTest, ChipFlashErasesWritesAndReadsBack)
{
    chipModel->flash().preset(0x10000, Bytes(0x20000, 0x00));
    EXPECT_EQ(erase(0x04010000, 4, 2), 0);
    EXPECT_EQ(chipErases(), (std::vector<uint32_t>{0x10000, 0x20000}));
    const Bytes data = pattern(300, 5);
    EXPECT_EQ(write(0x040101F0, data), 0);
    EXPECT_EQ(read(0x040101F0, 300), with(0, data));
    // A count of 0 erases one block.
    chipModel->flash().clearOps();
    EXPECT_EQ(erase(0x04030000, 1, 0), 0);
    EXPECT_EQ(chipErases(), std::vector<uint32_t>{0x30000});
}

// Refused before anything is touched: the flashes are left as they were.
TEST_F(FlashCmdTest, BadRangesAlignmentsModesAndFramesAreRefused)
{
    Bytes shortWrite = pctool::flashWrite(LOCAL, 0x04000000, pattern(8, 1));
    shortWrite.pop_back();   // one data byte fewer than the length says
    const struct {
        const char *what;
        Bytes request;
    } cases[] = {
        {"erase below a 4 KiB unit", pctool::flashErase(LOCAL, 0x04010800, 1, 1)},
        {"64 KiB erase off its block", pctool::flashErase(LOCAL, 0x04011000, 4, 1)},
        {"32 KiB erase off its block", pctool::flashErase(LOCAL, 0x04001000, 2, 1)},
        {"unknown erase mode", pctool::flashErase(LOCAL, 0x04000000, 3, 1)},
        {"erase past an FPGA flash", pctool::flashErase(LOCAL, 0x037F0000, 4, 2)},
        {"erase past the run-log window", pctool::flashErase(LOCAL, 0x004B0000, 4, 2)},
        {"empty write at 0", pctool::flashWrite(LOCAL, 0x04000000, {})},
        {"write data cut short by the frame", shortWrite},
        {"write past the run-log window", pctool::flashWrite(LOCAL, 0x004BFF00, pattern(300, 1))},
        {"write outside the run-log window", pctool::flashWrite(LOCAL, 0x00400000, pattern(4, 1))},
        {"read past an FPGA flash", pctool::flashRead(LOCAL, 0x037FFF00, 257)},
        {"read longer than the link carries", pctool::flashRead(LOCAL, 0x04000000, 65535)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run(c.request), Bytes{1});
    }
    EXPECT_TRUE(chipModel->flash().ops().empty());
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(flash[n]->programCount(), 0u);
        EXPECT_EQ(flash[n]->eraseCount(), 0u);
    }
}

TEST_F(FlashCmdTest, FpgaFlashesAndTheRunLogWindow)
{
    // Flash 3 is FPGA 1's, up to its last byte.
    flash[1]->preset(0x7FFF00, pattern(256, 9));
    EXPECT_EQ(read(0x037FFF00, 256), with(0, pattern(256, 9)));

    // The run-log window lies 0x14C000 lower in FPGA 0's flash; a 64 KiB
    // erase there reaches exactly its 64 KiB, not the block around it.
    flash[0]->preset(0x330000, Bytes(0x20000, 0x00));
    EXPECT_EQ(erase(0x00480000, 4, 1), 0);
    EXPECT_EQ(flash[0]->read(0x333FFF, 1), Bytes{0x00});
    EXPECT_EQ(flash[0]->read(0x334000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_EQ(flash[0]->read(0x344000, 1), Bytes{0x00});
    const Bytes record = pattern(64, 3);
    EXPECT_EQ(write(0x00480100, record), 0);
    EXPECT_EQ(flash[0]->read(0x334100, 64), record);
    EXPECT_EQ(read(0x00480100, 64), with(0, record));

    // Flash 8 takes writes and answers reads with zeros.
    EXPECT_EQ(write(0x08000000, pattern(16, 1)), 0);
    EXPECT_EQ(read(0x08000000, 16), with(0, Bytes(16, 0)));
    EXPECT_EQ(flash[0]->programCount() + flash[1]->programCount(), 1u);
}

// To the sending card with no FPGA named: both flashes, each with the whole data.
TEST_F(FlashCmdTest, WriteToBothFpgaFlashesLeavesThemIdentical)
{
    flash[0]->preset(0x100000, Bytes(0x1000, 0x00));
    flash[1]->preset(0x100000, Bytes(0x1000, 0x00));
    EXPECT_EQ(erase(0x00100000, 1, 1, CARD), 0);
    EXPECT_EQ(flash[0]->read(0x100000, 0x1000), Bytes(0x1000, 0xFF));
    EXPECT_EQ(flash[1]->read(0x100000, 0x1000), Bytes(0x1000, 0xFF));

    const Bytes data = pattern(600, 11);
    EXPECT_EQ(write(0x001000F0, data, CARD), 0);
    EXPECT_EQ(flash[0]->read(0x1000F0, 600), data);
    EXPECT_EQ(flash[1]->read(0x1000F0, 600), data);
    EXPECT_EQ(write(0x00100400, pattern(4, 2), CARD, 2), 0);   // byte 7 = 2: FPGA 1 only
    EXPECT_EQ(flash[0]->read(0x100400, 4), Bytes(4, 0xFF));
    EXPECT_EQ(flash[1]->read(0x100400, 4), pattern(4, 2));
}

TEST_F(FlashCmdTest, StuckChipFlashControllerAnswersFailure)
{
    chipModel->flash().setStuck(true);
    EXPECT_EQ(write(0x04000000, pattern(4, 1)), 1);
    EXPECT_EQ(erase(0x04000000, 1, 1), 1);
    EXPECT_EQ(read(0x04000000, 4), Bytes{1});
}

} // namespace
