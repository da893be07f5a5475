// The chip's serial flash through its controller: where pages close, what an
// erase reaches, DMA destinations, bounded waits and one mutex for bank 4.

#include "setter_fixture.h"

#include "support/pctool.h"

#include <thread>

using namespace chiptest;
using pctool::Bytes;
using pctool::pattern;
using Op = platform::sim::SimC331Flash::Op;

namespace {

class FlashDrvTest : public SetterTest
{
protected:
    // Values written to the 4-byte flash address register, in order.
    std::vector<uint32_t> addressWrites(uint64_t since)
    {
        std::vector<uint32_t> out;
        for (int i = 0; i < 4; ++i) {
            Bytes h = chip->writeHistory(4, uint8_t(0x4E + i), since);
            out.resize(h.size());
            for (size_t k = 0; k < h.size(); ++k)
                out[k] |= uint32_t(h[k]) << (8 * i);
        }
        return out;
    }
    std::vector<Op> opsOf(Op::Kind kind)
    {
        std::vector<Op> out;
        for (const Op &op : chip->flash().ops())
            if (op.kind == kind)
                out.push_back(op);
        return out;
    }
};

TEST_F(FlashDrvTest, WritesCloseAPageAtEachBoundaryAndAtTheEnd)
{
    struct Case {
        uint32_t address, length;
        std::vector<uint32_t> addresses;   // set-up twice, then every page close
        std::vector<std::pair<uint32_t, uint32_t>> programs;
    };
    const Case cases[] = {
        {0x1F0, 300, {0x1F0, 0x1F0, 0x200, 0x300, 0x31C}, {{0x1F0, 16}, {0x200, 256}, {0x300, 28}}},
        {0x100, 256, {0x100, 0x100, 0x200}, {{0x100, 256}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.address);
        chip->flash().preset(0, Bytes(0x400, 0xFF));   // erased, as a write needs
        chip->flash().clearOps();
        const Bytes data = pattern(c.length, uint8_t(c.address));
        const uint64_t mark = chip->mark();
        EXPECT_EQ(m->write_flash(m->c331_fd, c.address, c.length, data.data()), c331_manage::SFL_OK);
        EXPECT_EQ(addressWrites(mark), c.addresses);
        std::vector<std::pair<uint32_t, uint32_t>> programs;
        for (const Op &op : opsOf(Op::Program)) {
            programs.emplace_back(op.address, op.length);
            EXPECT_FALSE(op.pageWrapped || op.overProgrammed);
        }
        EXPECT_EQ(programs, c.programs);
        EXPECT_EQ(chip->flash().contents(c.address, c.length), data);
        Bytes back(c.length);
        EXPECT_EQ(m->read_flash(m->c331_fd, c.address, c.length, back.data()), c331_manage::SFL_OK);
        EXPECT_EQ(back, data);
    }
    // The pins are set before every operation.
    EXPECT_EQ(chip->value(5, 0x42, 3), 0x55u);
    EXPECT_EQ(chip->value(5, 0x45, 2), 0x03FFu);
}

TEST_F(FlashDrvTest, EraseReachesCountBlocksOfItsModeFromTheUnit)
{
    struct Case {
        uint32_t unit, count;
        int mode;
        std::vector<uint32_t> blocks;
        uint32_t size;
    };
    const Case cases[] = {
        {16, 3, 0, {0x10000, 0x11000, 0x12000}, 0x1000},
        {8, 2, 1, {0x8000, 0x10000}, 0x8000},
        {16, 1, 7, {0x10000}, 0x10000},
        {16, 0, 0, {}, 0x1000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        chip->flash().preset(0x8000, Bytes(0x20000, 0x00));
        chip->flash().clearOps();
        EXPECT_EQ(m->erase_flash(m->c331_fd, c.unit, c.count, c.mode), c331_manage::SFL_OK);
        std::vector<uint32_t> blocks;
        for (const Op &op : opsOf(Op::Erase)) {
            blocks.push_back(op.address);
            EXPECT_EQ(op.length, c.size);
        }
        EXPECT_EQ(blocks, c.blocks);
        if (!c.blocks.empty()) {
            const uint32_t end = c.blocks.back() + c.size;
            EXPECT_EQ(chip->flash().contents(c.blocks.front(), end - c.blocks.front()), Bytes(end - c.blocks.front(), 0xFF));
            EXPECT_EQ(chip->flash().contents(end, 1), Bytes{0x00});
        }
        EXPECT_EQ(chip->flash().contents(0x7FFF, 2), (Bytes{0xFF, c.unit == 8 ? uint8_t(0xFF) : uint8_t(0x00)}));
    }
}

TEST_F(FlashDrvTest, DmaProgramsTheDestinationOfItsTarget)
{
    const Bytes data = pattern(64, 3);
    chip->flash().preset(0xED9800, data);
    EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0xED9800, 0x70000000, 0, 64), c331_manage::SFL_OK);
    EXPECT_EQ(chip->memory().read(0x70000000, 64), data);
    EXPECT_EQ(chip->memory().pages(), 1u);   // made on demand
    EXPECT_EQ(chip->value(4, 0x56, 4), 0x80000040u);
    EXPECT_EQ(chip->value(4, 0x47, 1), 0x33u);
    EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0xED9800, 0x0A00, 1, 5), c331_manage::SFL_OK);
    EXPECT_EQ(chip->memory().charList(0x0A00, 5), Bytes(data.begin(), data.begin() + 5));
    EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0xED9800, 2, 4, 6), c331_manage::SFL_OK);
    const Bytes palette = chip->memory().palette();
    EXPECT_EQ(Bytes(palette.begin() + 6, palette.begin() + 12), Bytes(data.begin(), data.begin() + 6));
    EXPECT_TRUE(opsOf(Op::Ignored).empty());
    EXPECT_EQ(chip->writeHistory(4, 0x48).back(), 0);   // controller left idle
}

// The controller never finishes: each operation gives up after its bounded
// number of polls and says so, and the controller is left idle.
TEST_F(FlashDrvTest, StuckControllerFailsEveryOperationInBoundedPolls)
{
    chip->flash().setStuck(true);
    const Bytes data = pattern(10, 1);
    Bytes back(10, 0xEE);
    uint64_t mark = chip->mark();
    EXPECT_EQ(m->write_flash(m->c331_fd, 0x100, 10, data.data()), c331_manage::SFL_TIMEOUT);
    EXPECT_LE(chip->framesSince(mark).size(), 11000u);
    EXPECT_EQ(m->read_flash(m->c331_fd, 0x100, 10, back.data()), c331_manage::SFL_TIMEOUT);
    EXPECT_EQ(back, Bytes(10, 0));
    mark = chip->mark();
    EXPECT_EQ(m->erase_flash(m->c331_fd, 16, 3, 0), c331_manage::SFL_TIMEOUT);
    EXPECT_EQ(opsOf(Op::Erase).size(), 1u);   // no further block once one failed
    EXPECT_EQ(chip->writeHistory(4, 0x48, mark).back(), 0);
    EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0, 0x7F000000, 0, 16), c331_manage::SFL_TIMEOUT);
    EXPECT_EQ(chip->writeHistory(4, 0x48).back(), 0);
}

// A DMA waits 100,000 polls (10 s) plus one for every 12 bytes: 64 bytes
// 100,005 polls, the 64-dot CJK font (0xA40000 bytes) 995,658 (about 100 s).
// A flash busy for one poll less is waited for; one busy that long is not.
TEST_F(FlashDrvTest, DmaWaitGrowsWithTheLength)
{
    const struct {
        uint32_t length;
        unsigned polls;
    } cases[] = {{64, 100005}, {0xA40000, 995658}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.length);
        chip->flash().setBusyPolls(c.polls - 1);
        EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0x450023, 0x7F29F000, 0, c.length), c331_manage::SFL_OK);
        chip->flash().setBusyPolls(c.polls);
        EXPECT_EQ(m->osd_write_dma_sfl(m->c331_fd, 0x450023, 0x7F29F000, 0, c.length), c331_manage::SFL_TIMEOUT);
    }
}

// A flash that leaves its write-enable latch set after a program or an erase
// is told to disable writing each time, and each operation ends only once the
// latch reads clear (three status reads after the command), with the
// controller idle.
TEST_F(FlashDrvTest, WriteEnableLeftSetIsClearedAfterEraseAndProgram)
{
    chip->flash().setWriteEnableKept(true);
    chip->flash().setBusyPolls(3);
    const auto latch = [&] { return m->c331drv->read_C331(m->c331_fd, C331_REG(4, 0x55, 1), 0) & 0x02; };
    const Bytes data = pattern(10, 5);
    EXPECT_EQ(m->erase_flash(m->c331_fd, 2, 1, 0), c331_manage::SFL_OK);
    EXPECT_EQ(latch(), 0u);
    EXPECT_EQ(m->write_flash(m->c331_fd, 0x2000, 10, data.data()), c331_manage::SFL_OK);
    EXPECT_EQ(latch(), 0u);
    std::vector<Op::Kind> kinds;
    for (const Op &op : chip->flash().ops())
        kinds.push_back(op.kind);
    EXPECT_EQ(kinds, (std::vector<Op::Kind>{Op::Erase, Op::WriteDisable, Op::Program, Op::WriteDisable}));
    EXPECT_EQ(chip->writeHistory(4, 0x48).back(), 0);
    EXPECT_EQ(chip->flash().contents(0x2000, 10), data);
}

// The flash diagnostics are switched off as built: nothing is printed, not
// even with the debug switch on, for a long read or a controller that hangs.
TEST_F(FlashDrvTest, FlashDiagnosticsStaySilent)
{
    g_debugSwitch = 254;
    Bytes back(2048);
    testing::internal::CaptureStdout();
    EXPECT_EQ(m->read_flash(m->c331_fd, 0, 2048, back.data()), c331_manage::SFL_OK);
    chip->flash().setStuck(true);
    EXPECT_EQ(m->read_flash(m->c331_fd, 0, 16, back.data()), c331_manage::SFL_TIMEOUT);
    const std::string out = testing::internal::GetCapturedStdout();
    g_debugSwitch = 0;
    EXPECT_EQ(out, "");
}

// A font reload on one thread and flash writes on two others: without one
// lock over bank 4 their register sequences interleave and the controller
// drops or misplaces bytes.
TEST_F(FlashDrvTest, ConcurrentFlashWritesAndFontReloadsDoNotInterleave)
{
    m->load_font_map();
    m->PS_FONT_ADDR = 0x7F000000;
    const Bytes a = pattern(700, 1), b = pattern(700, 2);
    std::thread writerA([&] {
        for (int k = 0; k < 4; ++k)
            m->write_flash(m->c331_fd, 0x1000000 + 0x1000 * k, 700, a.data());
    });
    std::thread writerB([&] {
        for (int k = 0; k < 4; ++k)
            m->write_flash(m->c331_fd, 0x1100000 + 0x1000 * k, 700, b.data());
    });
    for (int k = 0; k < 3; ++k) {
        m->read_c331_font(m->c331_fd);
        m->update_font(m->c331_fd);
    }
    writerA.join();
    writerB.join();
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(chip->flash().contents(0x1000000 + 0x1000 * k, 700), a);
        EXPECT_EQ(chip->flash().contents(0x1100000 + 0x1000 * k, 700), b);
    }
    EXPECT_TRUE(opsOf(Op::Ignored).empty());
}

} // namespace
