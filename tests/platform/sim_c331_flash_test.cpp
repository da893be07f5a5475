// The simulated chip's serial-flash controller, memory engine, palette port
// and memories, driven with raw register frames as the chip receives them.

#include "platform/sim_c331.h"
#include "support/temp_root.h"

#include <gtest/gtest.h>

using platform::sim::SimC331;
using platform::sim::SimC331Flash;
using Bytes = std::vector<uint8_t>;
using Op = SimC331Flash::Op;

namespace {

class SimFlashTest : public ::testing::Test
{
protected:
    void frame(uint8_t b0, uint8_t b1, uint8_t *rx = nullptr)
    {
        const uint8_t tx[2] = {b0, b1};
        platform::spi::Xfer x;
        x.tx = tx;
        x.rx = rx;
        x.len = 2;
        chip->transfer(x);
    }
    void set(uint8_t bank, uint8_t sub, uint32_t value, int width = 1)
    {
        frame(0x80, bank);
        for (int i = 0; i < width; ++i)
            frame(uint8_t(0x80 | (sub + i)), uint8_t(value >> (8 * i)));
    }
    uint8_t get(uint8_t sub)
    {
        frame(0x80, 4);
        uint8_t rx[2] = {0, 0};
        frame(sub, 0xFF, rx);
        return rx[1];
    }
    void programMode()
    {
        for (auto r : {std::pair<int, int>{0x47, 0x80}, {0x47, 0x31}, {0x49, 0x12}, {0x4C, 0x06}, {0x5F, 1}})
            set(4, uint8_t(r.first), uint32_t(r.second));
    }
    void program(uint32_t address, const Bytes &data)
    {
        set(4, 0x4E, address, 4);
        for (uint8_t v : data)
            set(4, 0x52, v);
        set(4, 0x4E, address + uint32_t(data.size()), 4);   // closes the page
    }
    // Memory engine: fills w x h with `value` at `dest`, `pitch` units a line
    // (of 512 bytes with `scale` 0x10, else of 128).
    void engineFill(uint32_t dest, uint8_t value, uint16_t w, uint16_t h, uint8_t pitch, uint8_t scale = 0)
    {
        set(4, 0x0B, value, 2);
        set(4, 0x1E, w - 1u, 2);
        set(4, 0x20, h - 1u, 2);
        set(4, 0x11, dest, 4);
        set(4, 0x1B, pitch);
        set(4, 0x22, scale);
        set(4, 0x08, 1);
    }
    Op lastOp() const
    {
        auto ops = chip->flash().ops();
        return ops.empty() ? Op() : ops.back();
    }

    std::unique_ptr<SimC331> chip{new SimC331()};
};

TEST_F(SimFlashTest, NorCellsOnlyLoseBitsWrapInTheirPageAndEraseWholeBlocks)
{
    programMode();
    Bytes data(20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(0x10 + i);
    program(0x10F0, data);
    Op op = lastOp();
    EXPECT_EQ(op.kind, Op::Program);
    EXPECT_EQ(op.address, 0x10F0u);
    EXPECT_EQ(op.length, 20u);
    EXPECT_TRUE(op.pageWrapped);
    EXPECT_FALSE(op.overProgrammed);
    EXPECT_EQ(chip->flash().contents(0x10F0, 16), Bytes(data.begin(), data.begin() + 16));
    EXPECT_EQ(chip->flash().contents(0x1000, 4), Bytes(data.begin() + 16, data.end()));
    EXPECT_EQ(chip->flash().contents(0x1100, 1), Bytes{0xFF});

    program(0x10F0, {0xF0});   // 0x10 & 0xF0: the 0 -> 1 bits stay 0
    EXPECT_TRUE(lastOp().overProgrammed);
    EXPECT_EQ(chip->flash().contents(0x10F0, 1), Bytes{0x10});

    // A 4 KiB erase at any address inside the block.
    set(4, 0x47, 0x80);
    set(4, 0x47, 0x01);
    set(4, 0x4B, 0x20);
    set(4, 0x4E, 0x1234, 4);
    set(4, 0x48, 4);
    op = lastOp();
    EXPECT_EQ(op.kind, Op::Erase);
    EXPECT_EQ(op.address, 0x1000u);
    EXPECT_EQ(op.length, 0x1000u);
    EXPECT_EQ(chip->flash().contents(0x1000, 0x1000), Bytes(0x1000, 0xFF));

    // Bytes never closed into a page are lost at the next reset, and say so.
    programMode();
    set(4, 0x52, 0x00);
    set(4, 0x47, 0x80);
    EXPECT_EQ(lastOp().kind, Op::Ignored);

    // Data bytes are taken only when both control (0x31) and mode (1) say
    // registers.
    for (const auto &ctlMode : {std::pair<uint8_t, uint8_t>{0x31, 2}, {0x33, 1}}) {
        SCOPED_TRACE(int(ctlMode.first));
        programMode();
        set(4, 0x47, ctlMode.first);
        set(4, 0x5F, ctlMode.second);
        set(4, 0x4E, 0x2000, 4);
        set(4, 0x52, 0x00);
        EXPECT_EQ(lastOp().reason, "data written outside program mode");
        set(4, 0x4E, 0x2001, 4);
        EXPECT_EQ(chip->flash().contents(0x2000, 1), Bytes{0xFF});
    }
}

TEST_F(SimFlashTest, StatusBitsAnswerBusyForTheSetPollsOrForEver)
{
    chip->flash().setBusyPolls(2);
    programMode();
    program(0x200, {1, 2, 3});
    EXPECT_EQ(get(0x53) & 0x20, 0x20);   // write buffer empty
    EXPECT_EQ(get(0x54), 0x02);
    EXPECT_EQ(get(0x54), 0x02);
    EXPECT_EQ(get(0x54), 0x00);
    EXPECT_EQ(get(0x55), 0x01);
    EXPECT_EQ(get(0x55), 0x01);
    EXPECT_EQ(get(0x55), 0x00);

    // The write-enable latch follows the opcodes run alone.
    set(4, 0x4B, 0x06);
    set(4, 0x48, 5);
    EXPECT_EQ(get(0x55), 0x02);
    set(4, 0x4B, 0x04);
    set(4, 0x48, 5);
    EXPECT_EQ(get(0x55), 0x00);

    chip->flash().setStuck(true);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(get(0x54), 0x0B);
        EXPECT_EQ(get(0x53), 0x80);
        EXPECT_EQ(get(0x55) & 0x01, 0x01);
    }
}

using Engine = platform::sim::SimC331Engine;

TEST_F(SimFlashTest, MemoryEngineFillsAndCopiesWithThePitches)
{
    // Fill 3 x 2 with 7 at 0x1000, 128 bytes a line.
    engineFill(0x1000, 7, 3, 2, 1);
    EXPECT_EQ(get(0x17), 1);   // busy for one read
    EXPECT_EQ(get(0x17), 0);
    EXPECT_EQ(chip->memory().read(0x1000, 4), (Bytes{7, 7, 7, 0}));
    EXPECT_EQ(chip->memory().read(0x1080, 3), (Bytes{7, 7, 7}));
    // Copy it to 0x2000 with a destination pitch in 512-byte units.
    set(4, 0x0D, 0x1000, 4);
    set(4, 0x11, 0x2000, 4);
    set(4, 0x1C, 1);
    set(4, 0x22, 0x10);
    set(4, 0x08, 2);
    EXPECT_EQ(chip->memory().read(0x2200, 4), (Bytes{7, 7, 7, 0}));

    chip->engine().setStuck(true);
    EXPECT_EQ(get(0x17), 1);
}

// The chip memory ends at 2 GiB: what lies beyond is neither kept nor read,
// and addresses do not wrap round to its start.
TEST_F(SimFlashTest, NothingIsKeptBeyondTheChipMemory)
{
    platform::sim::SimChipMemory &memory = chip->memory();
    memory.fill(0x7FFFFFF8, 5, 16);
    EXPECT_EQ(memory.read(0x7FFFFFF8, 10), (Bytes{5, 5, 5, 5, 5, 5, 5, 5, 0, 0}));
    EXPECT_EQ(memory.read(0x80000000, 2), (Bytes{0, 0}));
    // A fill of 4096 lines of 16384 bytes from 0x7FFF0000: four lines fit.
    engineFill(0x7FFF0000, 7, 16, 4096, 32, 0x10);
    EXPECT_EQ(memory.read(0x7FFF0000 + 3 * 16384, 2), (Bytes{7, 7}));
    EXPECT_EQ(memory.pages(), 1u);
}

TEST_F(SimFlashTest, PalettePortWritesOnlyThroughItsGate)
{
    set(9, 0x1F, 1);
    set(9, 0x20, 0x11);   // gate closed: dropped
    set(0xFF, 0x01, 1);
    set(9, 0x1F, 1);
    for (uint8_t b : {0xA1, 0xA2, 0xA3, 0xA4})
        set(9, 0x20, b);
    Bytes palette = chip->memory().palette();
    EXPECT_EQ(Bytes(palette.begin() + 3, palette.begin() + 7), (Bytes{0xA1, 0xA2, 0xA3, 0xA4}));
    EXPECT_EQ(chip->engine().paletteWritesDropped(), 1u);
    // The whole 816 bytes of a bitmap palette from index 0.
    set(9, 0x1F, 0);
    for (int i = 0; i < 816; ++i)
        set(9, 0x20, uint8_t(i));
    palette = chip->memory().palette();
    ASSERT_EQ(palette.size(), 816u);
    EXPECT_EQ(palette[815], uint8_t(815));
}

TEST_F(SimFlashTest, RegisterFileIsShownInAFileUnderTheRoot)
{
    zemtest::TempRoot root;
    set(9, 0x02, 0x4003, 2);
    ASSERT_TRUE(chip->attachRegisterFile(SimC331::REGISTER_FILE));
    set(0x19, 0x02, 0x03);
    const std::string regs = zemtest::readFile(root.host(SimC331::REGISTER_FILE));
    ASSERT_EQ(regs.size(), 256u * 128);
    EXPECT_EQ(uint8_t(regs[9 * 128 + 2]), 0x03);
    EXPECT_EQ(uint8_t(regs[9 * 128 + 3]), 0x40);
    EXPECT_EQ(uint8_t(regs[0x19 * 128 + 2]), 0x03);
}

} // namespace
