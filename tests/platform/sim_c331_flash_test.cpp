// The simulated chip's serial-flash controller and memories, driven with raw
// register frames as the chip receives them.

#include "platform/sim_c331.h"
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

} // namespace
