#include "window_fixture.h"

using namespace chiptest;

namespace {

using Rect = _ImageWindowDef_st;

constexpr uint32_t SOURCE = 0x080802, LR_MIRROR = 0x082201, H_END = 0x083202, OUT_HST = 0x084002,
                   OUT_HW = 0x084202, OUT_VST = 0x084402, OUT_VW = 0x084602, VZOOM_EN = 0x0A4401,
                   HCTRL = 0x0A4601, HPHASE_A = 0x0A4701, HPHASE_B = 0x0A4801, HRATIO = 0x0A4902,
                   VCTRL = 0x0A4B01, VPHASE_A = 0x0A4C01, VRATIO = 0x0A4E02, READ_ADDR = 0x160804,
                   READ_PITCH = 0x163001;
constexpr uint32_t L = 64 * 1024;   // one line of the frame buffers

class OchTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        channels(0, {0});
        m->och_mark[0] = 0;
        shape(2, 1);
    }
    // Window 0 on a block of areas drawn by output channels 0, 1, ... in area order.
    void shape(int cols, int rows)
    {
        m->PM_WIN_SHAPE[0][0] = cols;
        m->PM_WIN_SHAPE[0][1] = rows;
        for (int j = 0; j < 8; ++j) {
            m->PM_WIN_NUM[j] = j < cols * rows ? 0 : 6;
            m->PM_AREA_NUM[j] = j < cols * rows ? j : 8;
        }
    }
    void program(const Rect &in, const Rect &out)
    {
        m->IWIN[0] = in;
        m->OWIN[0] = out;
        m->set_display_window_och(fd, in, out, 0);
    }
    uint32_t addr(int och, int k = 0) const { return reg(READ_ADDR + (uint32_t(4 * k) << 8), och); }
};

TEST_F(OchTest, HorizontalZoomOverTwoColumns)
{
    program(Rect{0, 1920, 0, 1080}, Rect{0, 3840, 0, 1080});
    // Column 1 starts at source pixel 960, reading four pixels back.
    EXPECT_EQ(reg(OUT_HST, 1), uint32_t(176 - 7));
    EXPECT_EQ(reg(OUT_HW, 1), 964u);
    EXPECT_EQ(reg(HPHASE_A, 1), 68u);
    EXPECT_EQ(reg(HPHASE_B, 1), 68u);
    EXPECT_EQ(addr(1), m->PS_MEM_SC[0][0] + 4 * 956);
    EXPECT_EQ(reg(SOURCE, 1), 0x1011u);
    // Column 0 reads four pixels ahead into column 1.
    EXPECT_EQ(reg(OUT_HST, 0), 176u);
    EXPECT_EQ(reg(OUT_HW, 0), 964u);
    EXPECT_EQ(reg(HPHASE_A, 0), 0u);
    EXPECT_EQ(addr(0, 3), m->PS_MEM_SC[0][3]);
    EXPECT_EQ(reg(SOURCE, 0), 0x0001u);
    for (int och : {0, 1}) {
        SCOPED_TRACE(och);
        EXPECT_EQ(reg(HCTRL, och), 199u);
        EXPECT_EQ(reg(HRATIO, och), 32760u);
        EXPECT_EQ(reg(H_END, och), 2096u);
        EXPECT_EQ(reg(OUT_VST, och), 82u);
        EXPECT_EQ(reg(OUT_VW, och), 1081u);
        EXPECT_EQ(reg(VCTRL, och), 0u);
        EXPECT_EQ(reg(VZOOM_EN, och), 0u);
        EXPECT_EQ(reg(READ_PITCH, och), 64u);
        // No vertical zoom: the filter passes lines through.
        EXPECT_EQ(chip->reg(uint8_t(0x0A + 16 * och), 0x68), 64);
        EXPECT_EQ(chip->reg(uint8_t(0x0A + 16 * och), 0x7F), 0);
    }
}

TEST_F(OchTest, UnzoomedBlockOffsetsByPacking)
{
    struct Case {
        int mode;
        uint32_t column1, packing;
    } cases[] = {{0, 7680, 0x00}, {1, 6144, 0x80}, {2, 5120, 0x01}, {3, 3840, 0x11}};
    shape(2, 2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        m->PM_MEM_WMODE[0] = c.mode;
        program(Rect{0, 3840, 0, 2160}, Rect{0, 3840, 0, 2160});
        EXPECT_EQ(addr(0), m->PS_MEM_SC[0][0]);
        EXPECT_EQ(addr(1), m->PS_MEM_SC[0][0] + c.column1);
        EXPECT_EQ(addr(2), m->PS_MEM_SC[0][0] + 1080 * L);
        EXPECT_EQ(addr(3, 4), m->PS_MEM_SC[0][4] + 1080 * L + c.column1);
        for (int och = 0; och < 4; ++och) {
            EXPECT_EQ(reg(OUT_HW, och), 1920u);
            EXPECT_EQ(reg(OUT_VW, och), 1081u);
            EXPECT_EQ(chip->reg(0x00, uint8_t(0x69 + och)), c.packing);
        }
    }
}

TEST_F(OchTest, MirrorsAndTheOutputReadMarker)
{
    struct Case {
        const char *name;
        int hmirror, vmirror, mark;
        uint32_t pitch, lr, vctrl, addr0, addr1;
    } cases[] = {
        {"plain", 0, 0, 0, 64, 0, 0, 0, 7680},
        {"left-right", 1, 0, 0, 64, 1, 0, 7680, 0},
        {"top-bottom", 0, 1, 0, 192, 0, 0, 1079 * L, 1079 * L + 7680},
        // One line up: below the first buffer the 32-bit address wraps.
        {"marked", 0, 0, 1, 64, 0, 5, 0u - L, 7680 - L},
        {"marked top-bottom", 0, 1, 1, 192, 0, 5, 1080 * L, 1080 * L + 7680},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m->win_hmirror[0] = uint8_t(c.hmirror);
        m->win_vmirror[0] = uint8_t(c.vmirror);
        m->och_mark[0] = uint8_t(c.mark);
        program(Rect{0, 3840, 0, 1080}, Rect{0, 3840, 0, 1080});
        EXPECT_EQ(reg(READ_PITCH, 0), c.pitch);
        EXPECT_EQ(reg(LR_MIRROR, 1), c.lr);
        EXPECT_EQ(reg(VCTRL, 1), c.vctrl);
        EXPECT_EQ(addr(0), c.addr0);
        EXPECT_EQ(addr(1), c.addr1);
        EXPECT_EQ(addr(1, 1), m->PS_MEM_SC[0][1] + c.addr1);
    }
}

TEST_F(OchTest, VerticalZoomOverTwoRows)
{
    struct Case {
        int vmirror;
        uint32_t row0, row1;
    } cases[] = {{0, 0, 536 * L}, {1, 1079 * L, 543 * L}};
    shape(1, 2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.vmirror);
        m->win_vmirror[0] = uint8_t(c.vmirror);
        program(Rect{0, 1920, 0, 1080}, Rect{0, 1920, 0, 2160});
        EXPECT_EQ(reg(OUT_VST, 0), 81u);
        EXPECT_EQ(reg(OUT_VW, 0), 546u);
        EXPECT_EQ(reg(VPHASE_A, 0), 0u);
        EXPECT_EQ(reg(OUT_VST, 1), 74u);
        EXPECT_EQ(reg(OUT_VW, 1), 546u);
        EXPECT_EQ(reg(VPHASE_A, 1), 65u);
        EXPECT_EQ(addr(0), c.row0);
        EXPECT_EQ(addr(1), c.row1);
        for (int och : {0, 1}) {
            EXPECT_EQ(reg(VCTRL, och), 0x84u);
            EXPECT_EQ(reg(VZOOM_EN, och), 3u);
            EXPECT_EQ(reg(VRATIO, och), 32753u);
            EXPECT_EQ(reg(HCTRL, och), 0u);
            EXPECT_EQ(chip->reg(uint8_t(0x0A + 16 * och), 0x71), 255);   // -1
            EXPECT_EQ(chip->reg(uint8_t(0x0A + 16 * och), 0x7F), 64);
        }
    }
}

TEST_F(OchTest, EarlyStartShowsTheWindowEmpty)
{
    struct Case {
        int32_t acthst, actvst;
        uint32_t hw, vw;
    } cases[] = {{176, 82, 1920, 1081}, {9, 82, 0, 1081}, {10, 82, 1920, 1081}, {176, 2, 1920, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.acthst) + "/" + std::to_string(c.actvst));
        m->PS_ACTHST = c.acthst;
        m->PS_ACTVST = c.actvst;
        program(Rect{0, 3840, 0, 1080}, Rect{0, 3840, 0, 1080});
        for (int och : {0, 1}) {
            EXPECT_EQ(reg(OUT_HW, och), c.hw);
            EXPECT_EQ(reg(OUT_VW, och), c.vw);
            EXPECT_EQ(reg(OUT_HST, och), uint32_t(c.acthst));
        }
    }
}

// Positions whose products pass 32 bits keep exact register values.
TEST_F(OchTest, WideZoomIsComputedWithoutOverflow)
{
    m->PS_ACTHW = 5000;
    shape(8, 1);
    program(Rect{0, 39000, 0, 1080}, Rect{0, 40000, 0, 1080});
    EXPECT_EQ(reg(HRATIO, 7), 63898u);
    EXPECT_EQ(reg(OUT_HST, 7), 172u);
    EXPECT_EQ(reg(OUT_HW, 7), 4879u);
    EXPECT_EQ(reg(HPHASE_A, 7), 80u);
    EXPECT_EQ(addr(7), m->PS_MEM_SC[0][0] + 4 * 34121);
    EXPECT_EQ(reg(SOURCE, 7), 0x1011u);
}

// A channel that shows no window, or whose window's master is no window,
// keeps its read packing.
TEST_F(OchTest, ReadPackingFollowsTheMasterOfTheWindowShown)
{
    m->PM_WIN_NUM[2] = 1;
    m->PM_WIN_STITCHING[1] = 0;
    m->PM_MEM_WMODE[0] = 3;
    m->set_oscwct(fd, 2);
    EXPECT_EQ(chip->writeHistory(0x00, 0x6B), std::vector<uint8_t>{0x11});
    m->PM_WIN_STITCHING[1] = 9;
    m->set_oscwct(fd, 2);
    m->PM_WIN_NUM[3] = 6;
    m->set_oscwct(fd, 3);
    m->set_oscwct(fd, 8);
    EXPECT_EQ(chip->writeHistory(0x00, 0x6B).size() + chip->writeHistory(0x00, 0x6C).size(), 1u);
}

TEST_F(OchTest, NothingIsProgrammedWithoutAnInputChannelOrOutputChannel)
{
    channels(0, {});
    uint64_t mark = chip->mark();
    program(Rect{0, 1920, 0, 1080}, Rect{0, 3840, 0, 1080});
    m->set_lut_vzoom_4sym(fd, 100, 8);
    EXPECT_TRUE(chip->framesSince(mark).empty());

    // Only the areas that have an output channel are programmed.
    channels(0, {0});
    m->PM_WIN_NUM[0] = 6;
    program(Rect{0, 1920, 0, 1080}, Rect{0, 3840, 0, 1080});
    EXPECT_TRUE(chip->writeHistory(0x08, 0x40, mark).empty());
    EXPECT_EQ(reg(SOURCE, 1), 0x0011u);   // the first channel programmed takes the input
}

} // namespace
