// Dot-by-dot memory and the waits on the inputs.

#include "input_fixture.h"

using namespace chiptest;

namespace {

constexpr uint32_t REGION0 = 0x2A800000;
constexpr uint32_t BLOCK = 0x01DC0000;

class DbdTest : public InputTest
{
protected:
    // Window w in dot-by-dot `mode` with a first input channel.
    void dbdWindow(int w, int32_t mode, int port = 0, int ich = 0)
    {
        show(w, port);
        m->PM_WIN_DBD_MODE[w] = mode;
        m->win_ich[w][0] = ich;
    }
    void portWidth(int p, int32_t w, int32_t h = 1080) { m->PI_ACT_FULL[p] = ST_ACT{192, w, 41, h}; }
    std::vector<int32_t> blocks(int w) const
    {
        return std::vector<int32_t>(m->win_dbd_block[w], m->win_dbd_block[w] + 4);
    }
    unsigned reads(uint64_t mark, uint8_t bank, uint8_t sub) const
    {
        unsigned n = 0;
        for (const SimC331::Frame &f : chip->framesSince(mark))
            n += !f.write && f.bank == bank && f.sub == sub;
        return n;
    }
};

TEST_F(DbdTest, InputsBeyondAChannelsMemoryNeedDotByDotMemory)
{
    const struct {
        int port;
        int32_t w, h;
        int needs;
    } cases[] = {{1, 2560, 1080, 0}, {1, 2561, 1080, 1}, {4, 5120, 2160, 0}, {4, 5121, 2160, 1},
                 {2, 1920, 2177, 1}, {7, 9000, 9000, 0}};
    for (const auto &c : cases) {
        if (c.port < 6)
            portWidth(c.port, c.w, c.h);
        EXPECT_EQ(m->check_dbd_input(c.port), c.needs) << c.port << " " << c.w << "x" << c.h;
    }
}

TEST_F(DbdTest, WindowsTakeMemoryAndWidth)
{
    // Fits its channel's own memory: that channel's stores and the chip's line
    // pitch, which its output reads with.
    portWidth(0, 2560);
    dbdWindow(0, 1, 0, 3);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 0), 0);
    EXPECT_EQ(m->dbd_mem_addr[0][1], m->PS_MEM_SC[3][1]);
    EXPECT_EQ(m->dbd_pitch[0], 64);
    EXPECT_EQ(blocks(0), std::vector<int32_t>(4, -1));

    // One block for a wider HDMI input, from the bottom.
    portWidth(0, 2561);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 0), 0);
    EXPECT_EQ(blocks(0), (std::vector<int32_t>{0, -1, -1, -1}));
    EXPECT_EQ(m->dbd_mem_addr[0][0], REGION0);
    EXPECT_EQ(m->dbd_pitch[0], 9);

    // Four 1920-pixel ports two by two: 3840 pixels, twelve units, taken
    // from the top.
    for (int p = 0; p < 4; ++p)
        portWidth(p, 1920);
    dbdWindow(1, 41, 0, 4);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 1), 0);
    EXPECT_EQ(m->dbd_pitch[1], 12);
    EXPECT_EQ(blocks(1), (std::vector<int32_t>{2, 3, 4, 5}));
    EXPECT_EQ(m->dbd_mem_addr[1][4], m->PS_MEM_REGION[4] + 2 * BLOCK);

    // No room left for two more blocks: the window holds nothing.
    dbdWindow(2, 20, 0, 6);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 2), -1);
    EXPECT_EQ(blocks(2), std::vector<int32_t>(4, -1));

    // Mode 0 and windows without channels hold no memory.
    dbdWindow(3, 0);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 3), -1);
    dbdWindow(3, 20, 0, -1);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 3), -1);
}

// Blocks are one contiguous run: a window never reaches into the blocks of
// another window.
TEST_F(DbdTest, BlocksAreTakenAsOneRunOutsideOtherWindows)
{
    portWidth(0, 2600);
    portWidth(1, 1920);
    m->dbd_block[0] = m->dbd_block[2] = 1;   // held by other windows
    dbdWindow(1, 20, 0, 1);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 1), 0);
    EXPECT_EQ(blocks(1), (std::vector<int32_t>{3, 4, -1, -1}));
    EXPECT_EQ(m->dbd_mem_addr[1][0], REGION0 + 3 * BLOCK);
    EXPECT_EQ(m->dbd_pitch[1], 15);   // 2600 + 1920 pixels

    dbdWindow(2, 21, 0, 2);   // from the top: no two free blocks next to each other
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 2), -1);
    m->reset_dbd_mem(1);
    EXPECT_EQ(m->set_dbd_mem(m->c331_fd, 2), 0);
    EXPECT_EQ(blocks(2), (std::vector<int32_t>{4, 5, -1, -1}));
    EXPECT_EQ(m->dbd_pitch[2], 9);   // port 0 alone
}

TEST_F(DbdTest, FieldWaitsEndOnAChangeOrAfterTheirLimit)
{
    uint64_t mark = chip->mark();
    EXPECT_EQ(m->wait_ifld_change(m->c331_fd, 7), 0);
    EXPECT_EQ(m->wait_ofld_change(m->c331_fd, 8), 0);
    EXPECT_TRUE(chip->framesSince(mark).empty());

    // Port 5 is field register 6; the field steps after three more reads.
    chip->inputs().setFieldBusy(6, 3);
    mark = chip->mark();
    EXPECT_EQ(m->wait_ifld_change(m->c331_fd, 5), 1);
    EXPECT_EQ(reads(mark, 0xAB, 0x4D), 5u);
    EXPECT_EQ(chip->writeHistory(0x00, 0x29, mark), (std::vector<uint8_t>{0x80, 0x00}));

    // A field that never changes: the limit, then the next field.
    chip->inputs().setFieldBusy(2, platform::sim::SimC331Inputs::NEVER);
    mark = chip->mark();
    EXPECT_EQ(m->wait_ofld_change(m->c331_fd, 2), 1);
    EXPECT_EQ(reads(mark, 0xAB, 0x49), 71u);
    chip->inputs().setFieldBusy(4, platform::sim::SimC331Inputs::NEVER);
    mark = chip->mark();
    EXPECT_EQ(m->wait_ifld_change(m->c331_fd, 4), 1);
    EXPECT_EQ(reads(mark, 0xAB, 0x4B), 91u);
}

TEST_F(DbdTest, VerticalSyncWaitOfAnInputChannel)
{
    uint64_t mark = chip->mark();
    m->wait1_pivs(m->c331_fd, 3);   // the flag is there at once
    EXPECT_EQ(reads(mark, 0x05, 0x22), 1u);
    EXPECT_EQ(chip->writeHistory(0x05, 0x08, mark), (std::vector<uint8_t>{0x08, 0x00}));

    chip->setBusy(0x05, 0x22, 10);
    mark = chip->mark();
    m->wait1_pivs(m->c331_fd, 3);
    EXPECT_EQ(reads(mark, 0x05, 0x22), 11u);

    chip->setBusy(0x05, 0x22, SimC331::NEVER);
    mark = chip->mark();
    m->wait1_pivs(m->c331_fd, 3);
    EXPECT_EQ(reads(mark, 0x05, 0x22), 46u);

    chip->setReg(0xA8, 0x3F + 15, 0xFF);   // channel 3 has no input: no wait
    mark = chip->mark();
    m->wait1_pivs(m->c331_fd, 3);
    EXPECT_EQ(reads(mark, 0x05, 0x22), 1u);
    chip->setBusy(0x05, 0x22, 0);

    mark = chip->mark();
    m->wait1_pivs(m->c331_fd, 8);
    EXPECT_TRUE(chip->framesSince(mark).empty());
}

// The input wait follows the slowest window with a change (the first of
// two equally slow ones); a window at 120 Hz or more is not waited for.
TEST_F(DbdTest, WaitOnTheSlowestChangedWindow)
{
    enum Pending { NONE, INPUT, LAYOUT, DBD };
    const struct {
        const char *what;
        double fv[4];
        Pending pending[4];
        std::vector<uint8_t> select;   // channel masks written, then 0
    } cases[] = {
        {"slowest is not the last", {60, 24, 50, 30}, {INPUT, LAYOUT, DBD, INPUT}, {0x20, 0}},
        {"first of two", {60, 24, 24, 30}, {INPUT, INPUT, INPUT, INPUT}, {0x20, 0}},
        {"a slower window without a change", {60, 50, 24, 30}, {INPUT, LAYOUT, NONE, INPUT}, {0x40, 0}},
        {"a dot-by-dot change counts", {60, 50, 24, 30}, {INPUT, INPUT, DBD, NONE}, {0x01, 0}},
        {"none below 120 Hz", {120, 150, 240, 130}, {INPUT, INPUT, INPUT, INPUT}, {}},
    };
    const int channel[4] = {3, 5, 0, 6};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (int w = 0; w < 4; ++w) {
            show(w, w + 1);
            m->PI_FV[w + 1] = c.fv[w];
            m->win_ich[w][0] = channel[w];
            m->g_chg_input[w] = c.pending[w] == INPUT;
            m->g_chg_win[w] = c.pending[w] == LAYOUT;
            m->g_chg_dbd[w] = c.pending[w] == DBD;
        }
        const uint64_t mark = chip->mark();
        m->wait1_pivs2(m->c331_fd);
        EXPECT_EQ(chip->writeHistory(0x05, 0x08, mark), c.select);
    }
}

} // namespace
