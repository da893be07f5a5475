// The OSD window cut into the pieces of the output channels, their
// registers, and the scrolling.

#include "osd_fixture.h"

using namespace chiptest;

namespace {

class OsdWindowTest : public OsdTest
{
protected:
    void SetUp() override
    {
        OsdTest::SetUp();
        m->PM_OSD_DATA_MODE = 1;
        m->PS_BG_HACT = 3840;
        m->PS_BG_VACT = 1080;
    }
    // The OSD window from x, w wide, the whole height.
    void window(int x, int w)
    {
        m->PM_OSD_OUTPUT_OFFSET[0] = x;
        m->PM_OSD_OUTPUT_OFFSET[1] = m->PS_PANEL_HW - w - x;
    }
    // A wall of across x down channels of 3840 x h, in the image too.
    void wall3840(int across, int down, int h)
    {
        wall(across, down);
        m->PS_ACTHW = 3840;
        m->PS_ACTVW = h;
        m->PS_PANEL_HW = 3840 * across;
        m->PS_PANEL_VW = h * down;
        setWord(para::LED_WIDTH, static_cast<uint16_t>(3840 * across));
        setWord(para::LED_HEIGHT, static_cast<uint16_t>(h * down));
    }
    // A 2 x 2 wall of 3840 x 2160, the area as large, and a window of 1920 x
    // 1080 from 1000, 500 across both rows and columns.
    void windowAcrossTwoRows()
    {
        wall(2, 2);
        m->PS_BG_VACT = 2160;
        window(1000, 1920);
        m->PM_OSD_OUTPUT_OFFSET[2] = 500;
        m->PM_OSD_OUTPUT_OFFSET[3] = 580;
    }
};

TEST_F(OsdWindowTest, WindowIsCutIntoThePiecesOfTheColumns)
{
    struct Case {
        int x, w;
        int piece[2][2];       // start, width of columns 0 and 1
        int first, last;       // columns marked, -1 none
    };
    const Case cases[] = {
        {1000, 1920, {{1000, 920}, {0, 1000}}, 0, 1},
        {2000, 500, {{0, 0}, {80, 500}}, 1, 1},
        {0, -100, {{0, 0}, {0, 0}}, -1, -1},   // margins wider than the wall
    };
    _ImageWindowDef2_St tiles[c331_manage::OCH_NUM];
    for (const Case &c : cases) {
        SCOPED_TRACE(c.x);
        window(c.x, c.w);
        m->calc_osd(tiles);
        for (int col = 0; col < 2; ++col) {
            EXPECT_EQ(tiles[col].hst, c.piece[col][0]) << col;
            EXPECT_EQ(tiles[col].hw, c.piece[col][1]) << col;
            EXPECT_EQ(tiles[col].hfirst, col == c.first) << col;
            EXPECT_EQ(tiles[col].hlast, col == c.last) << col;
        }
    }
    EXPECT_EQ(m->OSD_WIN.HW, 0);
    EXPECT_EQ(tiles[0].vw, 1080);
    EXPECT_TRUE(tiles[0].vfirst && tiles[0].vlast);
}

TEST_F(OsdWindowTest, ControlWordFollowsPitchZoomModeAndLayer)
{
    struct Case {
        int shift, vzoom, hzoom, en, chars, layer;
        uint32_t word;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 1, 0, 0x4000}, {0, 0, 0, 1, 1, 0, 0x4003}, {0, 0, 0, 1, 0, 0, 0x4002},
        {1, 0, 0, 1, 0, 0, 0x6002}, {0, 1, 0, 0, 1, 0, 0x4800}, {0, 0, 1, 0, 1, 0, 0x5000},
        {0, 0, 0, 0, 0, 1, 0xC000}, {1, 1, 1, 1, 1, 1, 0xF803},
    };
    window(0, 3840);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        m->g_osd_mwi_shift = c.shift;
        m->PM_OSD_VZOOM_EN = c.vzoom;
        m->PM_OSD_HZOOM_EN = c.hzoom;
        m->PM_OSD_EN = c.en;
        m->PM_OSD_DATA_MODE = c.chars;
        m->g_osd_layer = c.layer;
        m->set_osd(m->c331_fd, 1);
        EXPECT_EQ(onChannel(0x090202, 0), c.word);
        EXPECT_EQ(onChannel(0x090202, 1), c.word);
    }
}

// A window across both rows and both columns of a 2 x 2 wall: each channel
// (column + 2 x row) shows its piece, read from where the pieces before it
// in its row and column end in memory - half as far with the zoom on.
TEST_F(OsdWindowTest, EveryChannelOfTwoRowsGetsItsPieceAndAddress)
{
    windowAcrossTwoRows();
    m->g_osd_mwi = 60;   // 7680 bytes a line
    const uint32_t hst[4] = {1000, 0, 1000, 0}, hw[4] = {920, 1000, 920, 1000};
    const uint32_t vst[4] = {501, 501, 1, 1}, vw[4] = {580, 580, 500, 500};
    struct Case {
        int hzoom, vzoom;
        uint32_t at[4];
    };
    const Case cases[] = {
        {0, 0, {0, 920, 7680 * 580, 7680 * 580 + 920}},
        {1, 0, {0, 460, 7680 * 580, 7680 * 580 + 460}},
        {1, 1, {0, 460, 7680 * 290, 7680 * 290 + 460}},
    };
    for (const Case &c : cases) {
        m->PM_OSD_HZOOM_EN = c.hzoom;
        m->PM_OSD_VZOOM_EN = c.vzoom;
        m->set_osd(m->c331_fd, 1);
        for (int ch = 0; ch < 4; ++ch) {
            SCOPED_TRACE(testing::Message() << c.hzoom << c.vzoom << " channel " << ch);
            EXPECT_EQ(onChannel(0x091202, ch), uint32_t(m->PS_ACTHST - 4) + hst[ch]);
            EXPECT_EQ(onChannel(0x091402, ch), hw[ch]);
            EXPECT_EQ(onChannel(0x091602, ch), uint32_t(m->PS_ACTVST) + vst[ch]);
            EXPECT_EQ(onChannel(0x091802, ch), vw[ch]);
            EXPECT_EQ(onChannel(0x091A04, ch), m->PS_MEM_OSD1 + c.at[ch]);
            EXPECT_EQ(onChannel(0x091E01, ch), 60u);
        }
    }
    // From the first area the input margins are skipped: 8 across, 2 lines down.
    m->PM_OSD_INPUT_OFFSET[0] = 8;
    m->PM_OSD_INPUT_OFFSET[2] = 2;
    m->set_osd(m->c331_fd, 0);
    EXPECT_EQ(onChannel(0x091A04, 0), m->PS_MEM_OSD + 8 + 7680 * 2);
}

// The zoom doubles what the memory holds on the wall: a source of 600 x 600
// fills twice as much of the 1920 x 1080 window in each zoomed direction.
TEST_F(OsdWindowTest, ZoomDoublesTheVisibleSource)
{
    windowAcrossTwoRows();
    m->PM_OSD_INPUT_OFFSET[1] = 3840 - 600;
    m->PM_OSD_INPUT_OFFSET[3] = 2160 - 600;
    const int cases[][4] = {{0, 0, 600, 600}, {1, 0, 1200, 600}, {0, 1, 600, 1080}, {1, 1, 1200, 1080}};
    _ImageWindowDef2_St tiles[c331_manage::OCH_NUM];
    for (const auto &c : cases) {
        m->PM_OSD_HZOOM_EN = c[0];
        m->PM_OSD_VZOOM_EN = c[1];
        m->calc_osd(tiles);
        EXPECT_EQ(m->OSD_WIN.HW, c[2]) << c[0] << c[1];
        EXPECT_EQ(m->OSD_WIN.VW, c[3]) << c[0] << c[1];
    }
}

// The memory engine's areas are at most 8191 wide: on a wall of four 3840
// wide channels a full-width OSD shows, and scrolls over, 8191 pixels, the
// width that the second area repeats.
TEST_F(OsdWindowTest, WideWallShowsAndScrollsTheAreaTheEngineHolds)
{
    wall3840(4, 1, 100);
    m->set_OSD_para(menu("A", 0, 0, 15360, 100));
    m->update_osd(m->c331_fd);
    EXPECT_EQ(m->OSD_WIN.HW, 8191);
    const uint32_t widths[4] = {3840, 3840, 511, 0};
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(onChannel(0x091402, ch), widths[ch]) << ch;
        EXPECT_EQ(onChannel(0x094002, ch), 8191u) << ch;
    }
    std::vector<uint32_t> tiles;
    for (const Engine::Op &op : opsOf(Engine::Op::Copy)) {
        EXPECT_EQ(op.width, 8191u);
        tiles.push_back(op.destination - m->PS_MEM_OSD1);
    }
    EXPECT_EQ(tiles, (std::vector<uint32_t>{0, 8191, 16384 * 100, 16384 * 100 + 8191}));   // 16384 bytes a line
}

// A 64-dot text on a wall of 4 x 2 channels of 3840 x 2160, in a window of
// 10000 x 4000: the character area is cut to 8191 wide and to the 4314 lines
// of 16384 bytes that the memory from PS_MEM_OSD (0x725C0000) to the fonts
// holds three times, and the window's margins come from that area, so that
// all of it that the window covers is shown and scrolled.
TEST_F(OsdWindowTest, SixtyFourDotTextOnAWideWallShowsTheAreaTheMemoryHolds)
{
    wall3840(4, 2, 2160);
    OMENU_PARA e = menu("AB", 0, 0, 10000, 4000);
    e.fontw = e.fonth = 64;
    m->set_OSD_para(e);
    m->set_osd(m->c331_fd, 1);
    m->set_scroll(m->c331_fd);
    EXPECT_EQ(m->OSD_WIN.HW, 8191);
    EXPECT_EQ(m->OSD_WIN.VW, 4000);
    EXPECT_EQ(onChannel(0x094002, 0), 8191u);
    EXPECT_EQ(onChannel(0x094202, 0), 4000u);
}

// The OSD memory from PS_MEM_OSD to the fonts at 0x7F000000 holds an area
// and the second area's 2 x 2 tiling: the second area stays at PS_MEM_OSD1
// while the area fits in front of it (0x25C0000 bytes), else it follows the
// area; an area too tall for both is cut.
TEST_F(OsdWindowTest, AreaAndSecondAreaFitTheOsdMemory)
{
    m->PS_ACTHW = m->PS_PANEL_HW = 16000;
    m->PS_ACTVW = m->PS_PANEL_VW = 9000;
    m->PS_PANEL_HSHAPE = m->PS_PANEL_VSHAPE = 1;
    window(0, 16000);
    struct Case {
        int w, h, mwi, shift;
        int shown_w, shown_h;
        uint32_t second;     // from PS_MEM_OSD
    };
    const Case cases[] = {
        {1920, 1080, 32, 0, 1920, 1080, 0x25C0000},
        {1920, 65535, 32, 0, 1920, 8191, 0x25C0000},
        {15360, 2160, 32, 1, 8191, 2160, 0x25C0000},          // 16384 x 2160 fits in front
        {7680, 4320, 30, 1, 7680, 4320, 15360 * 4320},        // 63.3 MiB does not
        {8191, 4320, 32, 1, 8191, 4314, 16384 * 4314},        // (0x7F000000 - 0x725C0000) / 3 / 16384
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        m->PS_BG_HACT = c.w;
        m->PS_BG_VACT = c.h;
        m->g_osd_mwi = c.mwi;
        m->g_osd_mwi_shift = c.shift;
        m->set_osd(m->c331_fd, 1);
        EXPECT_EQ(m->OSD_WIN.HW, c.shown_w);
        EXPECT_EQ(m->OSD_WIN.VW, c.shown_h);
        EXPECT_EQ(onChannel(0x091A04, 0), m->PS_MEM_OSD + c.second);
    }
}

TEST_F(OsdWindowTest, ScrollModeAndLengthsOnEveryChannel)
{
    wall(4, 1);
    window(0, 1000);
    m->PM_OSD_INPUT_OFFSET[1] = 840;
    m->PM_OSD_SCROLL_SPEED = 44;
    const uint32_t modes[][2] = {{3, 0xA1}, {0, 0x80}, {8, 0xF1}};
    for (const auto &mode : modes) {
        m->PM_OSD_SCROLL_MODE = int(mode[0]);
        m->set_osd(m->c331_fd, 1);
        const uint64_t mark = chip->mark();
        m->set_scroll(m->c331_fd);
        for (int ch = 0; ch < 4; ++ch) {
            SCOPED_TRACE(ch);
            EXPECT_EQ(chip->writeHistory(uint8_t(0x09 + 16 * ch), 0x3C, mark), (std::vector<uint8_t>{0, uint8_t(mode[1])}));
            EXPECT_EQ(onChannel(0x093D01, ch), 44u);
            EXPECT_EQ(onChannel(0x094002, ch), 3840u - 840);
            EXPECT_EQ(onChannel(0x094202, ch), 1080u);
        }
    }
}

} // namespace
