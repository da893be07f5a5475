// LED panel set-up: channel pairs, arrangement, output timing, the values
// written back into the image, and the output timing generators.

#include "chip_fixture.h"

using namespace chiptest;

namespace {

using PanelTest = ModelTest;

struct PanelCase {
    const char *what;
    int ledW, ledH, out1w, out1h, splice;
    int use1och, arrang, htt, vtt, ochW, ochH, xoffs, yoffs, ledH_count, ledV_count;
};

const PanelCase PANELS[] = {
    {"defaults: one wall, copied", 1920, 1080, 1920, 1080, 4, 1, 5, 1984, 4990, 1920, 1080, 0, 0, 1, 1},
    {"stacked outputs", 1920, 2160, 1920, 1000, 1, 1, 8, 1984, 4990, 1920, 1160, 0, 160, 1, 2},
    {"splice 7 is splice 1", 1920, 2160, 1920, 1000, 7, 1, 8, 1984, 4990, 1920, 1160, 0, 160, 1, 2},
    {"9,830,400 pixels need two pairs", 7680, 1280, 0, 0, 0, 0, 6, 3916, 2529, 3840, 1280, 0, 0, 2, 1},
    // Side by side: H is the first output's height (the two outputs share it).
    {"side by side", 3840, 1080, 1000, 1080, 3, 1, 5, 2904, 3410, 2840, 3398, 1840, 0, 2, 1},
    {"vertical split, two pairs", 4800, 4320, 4800, 2160, 2, 0, 7, 2476, 3999, 2400, 2160, 0, 0, 2, 2},
    // Outputs of 1920 x 5000 on one pair need more lines than any admissible
    // timing of 1984 pixels a line has (4994): the totals are the needed
    // ones, with 38 lines of blanking for the vertical split and 12 else.
    {"vertical split, one pair", 1920, 10000, 1920, 5000, 2, 1, 8, 1984, 5038, 1920, 5000, 0, 0, 1, 2},
    {"stacked, one pair", 1920, 10000, 1920, 5000, 1, 1, 8, 1984, 5012, 1920, 5000, 0, 0, 1, 2},
    {"no admissible timing: the needed totals", 700, 14000, 700, 14000, 0, 1, 5, 764, 14012, 700, 14000, 0, 0, 1, 1},
    // A first output wider or taller than the wall is the whole wall.
    {"first output wider than the wall", 1920, 1080, 5000, 1080, 3, 1, 5, 1984, 4990, 1920, 4978, 0, 0, 2, 1},
    {"first output taller than the wall", 1920, 1080, 1920, 3000, 1, 1, 8, 1984, 4990, 1920, 1080, 0, 0, 1, 2},
    // Both outputs of size 0: nothing divides by their width.
    {"splice 5", 1920, 1080, 1920, 1080, 5, 1, 5, 660, 15000, 0, 1080, 0, 0, 1, 2},
};

TEST_F(PanelTest, ChannelPairsArrangementAndTiming)
{
    for (const PanelCase &c : PANELS) {
        SCOPED_TRACE(c.what);
        m->zemApi_PnlInit2(c.ledW, c.ledH, c.out1w, c.out1h, c.splice);
        const ST_PANEL &p = m->gPanel;
        EXPECT_EQ(p.use1och, c.use1och);
        EXPECT_EQ(m->published_use1och(), c.use1och);
        EXPECT_EQ(p.arrang, c.arrang);
        EXPECT_EQ(p.HTT, c.htt);
        EXPECT_EQ(p.VTT, c.vtt);
        EXPECT_EQ(p.och.width, c.ochW);
        EXPECT_EQ(p.och.height, c.ochH);
        EXPECT_EQ(store->word(para::LED_X), c.xoffs);
        EXPECT_EQ(store->word(para::LED_Y), c.yoffs);
        EXPECT_EQ(store->word(para::OCH_NUM_H), c.ledH_count);
        EXPECT_EQ(store->word(para::OCH_NUM_V), c.ledV_count);
        EXPECT_EQ(store->word(para::OCH_W), c.ochW);
        EXPECT_EQ(store->word(para::OCH_H), c.ochH);
        EXPECT_EQ(store->word(para::OCH_BANDWIDTH), 0);
    }
}

TEST_F(PanelTest, DefaultWallProgramsEveryChannelsTimingGenerator)
{
    // The closing sequence: transmitter sizes, channel order maps and the
    // clock dividers of the new timing. Each register holds a stale value
    // before, so that a write left out shows.
    const struct {
        uint32_t reg, value;
    } tail[] = {
        {0x032C02, 0},    {0x032E01, 0},          {0x032F02, 0},    {0x020801, 9},
        {0x035E04, 0x76543210}, {0x033602, 0},    {0x033801, 0},    {0x033902, 0},
        {0x027801, 9},    {0x036204, 0x76543210}, {0x004701, 0x21}, {0x004C01, 0x21},
        {0x004B01, 11},   {0x005001, 11},         {0x004801, 0x89}, {0x004D01, 0x89},
    };
    for (const auto &t : tail)
        for (uint32_t k = 0; k < (t.reg & 0xFF); ++k)
            chip->setReg(uint8_t(t.reg >> 16), uint8_t((t.reg >> 8) + k), 0xA5);
    m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    for (const auto &t : tail)
        EXPECT_EQ(chip->value(t.reg), t.value) << std::hex << t.reg;

    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(chip->value(0x080A02, 16 * c), 1982u);
        EXPECT_EQ(chip->value(0x080C02, 16 * c), 4988u);
        EXPECT_EQ(chip->value(0x082802, 16 * c), 60u);     // sync 12 + back porch 48
        EXPECT_EQ(chip->value(0x082A02, 16 * c), 1980u);
        EXPECT_EQ(chip->value(0x082C02, 16 * c), 3907u);   // sync 3 + back porch 3904
        EXPECT_EQ(chip->value(0x084202, 16 * c), 1920u);
        EXPECT_EQ(chip->value(0x084602, 16 * c), 1081u);
    }
    EXPECT_EQ(chip->value(0x035504), 0u);   // lane map of a copied wall
    EXPECT_EQ(chip->value(0x034401), 5u);
    EXPECT_EQ(chip->value(0x034D01), 2u);
    EXPECT_EQ(m->PS_VBOTX_MODE, 2);
    EXPECT_EQ(m->PS_PANEL_HW, 3840);
    EXPECT_EQ(m->PS_PANEL_HSHAPE, 2);
    EXPECT_EQ(m->PS_ICLK_DIV[4], 11);
    // Bytes beside the counts stay 0 (the PC tool reads 16-bit words).
    EXPECT_EQ(store->ram_para[para::OCH_NUM_H + 1], 0);
    EXPECT_EQ(store->ram_para[para::OCH_NUM_V + 1], 0);
    // The set-up ends with the model printed.
    EXPECT_NE(dump.text().find("\tPS_HTOTAL:1984\r\n"), std::string::npos);
}

TEST_F(PanelTest, LaneMapAndFrameFollowTheSplice)
{
    struct {
        int ledW, ledH, splice;
        uint32_t lanes;
        int layout, panelW, panelH;
    } cases[] = {
        {1920, 1080, 0, 0x03020100, 0, 3840, 1080},
        {1920, 2160, 1, 0x00010000, 1, 1920, 2320},   // 1 x 2, each 1920 x 1160 (out1h 1000)
        {7680, 1280, 4, 0x01000100, 0, 15360, 1280},
        // Two pairs, 2 x 2, each 2400 x 3320 (the taller output, 4320 - 1000).
        {4800, 4320, 2, 0x03020100, 1, 4800, 6640},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.splice);
        m->zemApi_PnlInit2(c.ledW, c.ledH, 1920, 1000, c.splice);
        EXPECT_EQ(chip->value(0x035504), c.lanes);
        EXPECT_EQ(m->PS_VBOTX_LAYOUT, c.layout);
        EXPECT_EQ(m->PS_PANEL_HW, c.panelW);
        EXPECT_EQ(m->PS_PANEL_VW, c.panelH);
    }
}

// Splice 5 leaves every output size 0: the window falls back to the whole
// wall, and its margins inside the 0-pixel areas are 0.
TEST_F(PanelTest, EmptyWallFallsBackWithoutDividingByZero)
{
    window(0, 100, 100, 640, 480);
    m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 5);
    ASSERT_EQ(m->gMwin.count, 1);
    EXPECT_EQ(m->win_slot[0], -1);
    EXPECT_EQ(m->gMwin.pwin[0].w, 1920);
    for (int side = 0; side < 4; ++side)
        EXPECT_EQ(m->PM_WIN_OFFSET[0][side], 0);
}

TEST_F(PanelTest, TimingTableLookups)
{
    struct {
        int htt, vtt;
        bool found;
        int HTT, VTT;
    } cases[] = {
        {1, 1, true, 660, 15000},      {2200, 4500, true, 2200, 4500}, {2200, 4501, true, 2200, 4501},
        {3297, 1, true, 3300, 3000},   {4400, 2250, true, 4400, 2250}, {8280, 1, true, 8280, 1196},
        {8281, 1, false, 8281, 1},     {660, 20000, false, 660, 20000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.htt) + " x " + std::to_string(c.vtt));
        int h = c.htt, v = c.vtt;
        EXPECT_EQ(c331_manage::find_timing(h, v), c.found);
        EXPECT_EQ(h, c.HTT);
        EXPECT_EQ(v, c.VTT);
    }
}

TEST_F(PanelTest, DiagnosticsWriteTheirRegisters)
{
    m->c331_outputTimmingCtrlReg(0x45, 0x12);
    EXPECT_EQ(chip->value(0x005502), 0x1245u);
    m->zemApi_SetOutBkg();
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(chip->value(0x084903, 16 * c), 0u);
        EXPECT_EQ(chip->value(0x084801, 16 * c), 1u);
    }
}

} // namespace
