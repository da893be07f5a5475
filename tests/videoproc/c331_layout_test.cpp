// Output channels of the windows, the channel tables, the layer mixers and
// the fades paced by the output frames.

#include "chip_fixture.h"

using namespace chiptest;

namespace {

using LayoutTest = ModelTest;
using Channels = std::vector<int>;

TEST_F(LayoutTest, WindowsGetTheChannelsTheyCover)
{
    struct Win {
        uint16_t x, y, w, h;
        Channels expected;
    };
    struct {
        const char *what;
        int ledW, ledH, out1w, out1h, splice;
        std::vector<Win> wins;
    } cases[] = {
        {"2 x 1, the whole output", 1920, 1080, 1920, 1080, 4, {{0, 0, 3840, 1080, {0, 1}}}},
        {"2 x 1, overlapping windows get channels of their own", 1920, 1080, 1920, 1080, 4,
         {{0, 0, 640, 480, {0}}, {100, 100, 640, 480, {1}}, {200, 200, 640, 480, {2}}}},
        {"1 x 2, the lower half", 1920, 2160, 1920, 1080, 1, {{0, 1200, 1920, 800, {1}}}},
        // A window one column wide spanning both rows covers two channels,
        // and leaves the other column to the next window.
        {"2 x 2, the left half", 4800, 4320, 4800, 2160, 2,
         {{0, 0, 2400, 4320, {0, 2}}, {2400, 0, 2400, 2160, {1}}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i)
            setWord(para::window(i, para::WIN_ENABLE), 0);
        for (size_t i = 0; i < c.wins.size(); ++i)
            window(uint32_t(i), c.wins[i].x, c.wins[i].y, c.wins[i].w, c.wins[i].h, 0, uint16_t(i));
        m->zemApi_PnlInit2(c.ledW, c.ledH, c.out1w, c.out1h, c.splice);
        ASSERT_EQ(m->gMwin.count, int(c.wins.size()));
        for (size_t n = 0; n < c.wins.size(); ++n)
            EXPECT_EQ(channels(int(n)), c.wins[n].expected) << "window " << n;
    }
    // The 2 x 2 case: nothing was shared, so nothing was moved.
    for (int ch = 0; ch < 8; ++ch)
        EXPECT_EQ(m->och_duplicate[ch], 255);
}

TEST_F(LayoutTest, ChannelTablesAndEnables)
{
    for (int c = 0; c < 8; ++c)
        chip->setReg(0x00, uint8_t(0x08 + c), 0x11);   // as the initial set leaves them
    m->PI_ACT[3] = ST_ACT{0, 1920, 0, 1080};
    const uint32_t crop = para::CROP_TABLE + 2 * para::CROP_ENTRY_SIZE;
    setWord(crop, 0x8000);   // crop of source 0
    setWord(crop + 2, 100);
    setWord(crop + 4, 50);
    setWord(crop + 6, 1720);
    setWord(crop + 8, 1000);
    window(0, 2000, 100, 1000, 600, 0x8002);
    window(1, 2100, 200, 640, 480, 1, 1);
    m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);

    EXPECT_EQ(channels(0), Channels{1});
    EXPECT_EQ(channels(1), Channels{0});   // tile 1 is window 0's: the lowest idle channel
    EXPECT_EQ(m->PM_OVERLAY[0], 2);          // channel 0 shows tile 1
    EXPECT_EQ(m->och_duplicate[0], 1);
    const int32_t winNum[8] = {1, 0, 6, 6, 6, 6, 6, 6};
    const int32_t areaNum[8] = {0, 0, 8, 8, 8, 8, 8, 8};
    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(m->PM_WIN_NUM[c], winNum[c]);
        EXPECT_EQ(m->PM_AREA_NUM[c], areaNum[c]);
        // Bit 0 enables the channel; the other bits keep what the chip had.
        EXPECT_EQ(chip->reg(0x00, uint8_t(0x08 + c)), c < 2 ? 0x11 : 0x10);
    }

    // Window 0: port 3 (source 0), one area, margins 80 / 840 and 100 / 380
    // inside it, crop margins inside its 1920 x 1080 source.
    EXPECT_EQ(m->PM_INPUT[0], 3);
    EXPECT_EQ(m->PM_INPUT[1], 2);
    EXPECT_EQ(m->PM_WIN_SHAPE[0][0], 1);
    EXPECT_EQ(m->PM_WIN_SHAPE[0][1], 1);
    EXPECT_EQ(std::vector<int32_t>(m->PM_WIN_OFFSET[0], m->PM_WIN_OFFSET[0] + 4),
              (std::vector<int32_t>{80, 840, 100, 380}));
    EXPECT_EQ(std::vector<int32_t>(m->PM_INPUT_OFFSET[0], m->PM_INPUT_OFFSET[0] + 4),
              (std::vector<int32_t>{100, 100, 50, 30}));
    EXPECT_EQ(std::vector<int32_t>(m->PM_INPUT_OFFSET[1], m->PM_INPUT_OFFSET[1] + 4),
              (std::vector<int32_t>{0, 0, 0, 0}));
    for (int w = 0; w < 6; ++w) {
        EXPECT_EQ(m->g_chg_win[w], w < 2 ? 1 : 0);
        EXPECT_EQ(m->win_out[w].last, 1);
    }
    EXPECT_EQ(m->g_chg_overlay, 1);
}

TEST_F(LayoutTest, CropMarginsNeverGoNegative)
{
    m->PI_ACT[3] = ST_ACT{0, 1280, 0, 720};
    ST_RECT crop{100, 50, 1720, 1000};
    const int32_t expected[5] = {100, 0, 50, 0, 0};
    for (int side = 0; side < 5; ++side)
        EXPECT_EQ(m->zemApi_CropGetOffset(3, &crop, side), expected[side]);
    // A V-by-One port packing two pixels per clock is twice as wide.
    m->PI_ACT[5] = ST_ACT{0, 960, 0, 1080};
    m->PI_STATE[5] = 1;
    EXPECT_EQ(m->zemApi_CropGetOffset(5, &crop, 1), 100);
    EXPECT_EQ(m->zemApi_CropGetOffset(6, &crop, 0), 0);
}

class LayerTest : public ModelTest
{
protected:
    // Three windows overlapping on the first tile of a 2 x 1 output, layers
    // 0, 1, 2: channels 0, 1, 2 all in mixer 0.
    void SetUp() override
    {
        ModelTest::SetUp();
        for (uint32_t i = 0; i < 3; ++i)
            window(i, uint16_t(100 * i), 0, 640, 480, 0, uint16_t(i));
        m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    }
    uint32_t mixerOrder(int g) const { return chip->value(0x0E0904, 16 * g); }
    std::vector<uint8_t> coef(int c, int k, uint64_t since) const
    {
        return chip->writeHistory(0x0E, uint8_t(0x11 + 5 * c + k), since);
    }
};

TEST_F(LayerTest, PrioritiesOrderTheMixers)
{
    EXPECT_EQ((std::vector<int32_t>(m->PM_OVERLAY_PRI, m->PM_OVERLAY_PRI + 6)),
              (std::vector<int32_t>{5, 4, 3, 0, 0, 0}));
    EXPECT_EQ(mixerOrder(0), 0x89Au);   // bottom first: window 2, 1, 0
    EXPECT_EQ(mixerOrder(1), 0u);
    EXPECT_EQ(mixerOrder(3), 0xBu);     // channel 3 shows no window: key 0, no table overrun

    // Equal keys are exchanged only through a third: 2, 2, 1 ends z, y, x.
    m->c331_SetWinPriority(0, 3);
    m->c331_SetWinPriority(1, 3);
    m->c331_SetWinPriority(2, 4);
    m->c331_SetWinPriority1(m->c331_fd);
    EXPECT_EQ(mixerOrder(0), 0x89Au);
    EXPECT_EQ(m->g_och_layer_cnt[0], 3);
}

TEST_F(LayerTest, MixersShowTheirTopLayerOpaque)
{
    EXPECT_EQ(chip->reg(0x0E, 0x11), 0x80);          // nothing but the background
    EXPECT_EQ(chip->reg(0x0E, 0x11 + 25 + 3), 0x80); // layers 0 and 2: layer 2 on top
    EXPECT_EQ(chip->reg(0x0E, 0x11 + 25 + 1), 0x00);
    EXPECT_EQ(chip->reg(0x0E, 0x11 + 25), 0x00);
    EXPECT_EQ(chip->reg(0x1E, 0x11), 0x00);          // mixer 1 has no layer
    EXPECT_EQ(chip->value(0x0E0F02), 0u);
}

TEST_F(LayerTest, FadeStepsOnePerOutputFrame)
{
    const uint64_t mark = chip->mark();
    m->set_layer_coef(m->c331_fd, 1, 2, 0);   // window 1 is layer 1 of mixer 0
    EXPECT_EQ(chip->writeHistory(0x05, 0x09, mark), (std::vector<uint8_t>{1, 0, 1, 0, 1, 0}));
    EXPECT_EQ(coef(3, 2, mark), (std::vector<uint8_t>{128, 64, 0}));   // the window over layer 0
    EXPECT_EQ(coef(3, 1, mark), (std::vector<uint8_t>{0, 64, 128}));
    EXPECT_EQ(coef(2, 0, mark), (std::vector<uint8_t>{0, 64, 128}));   // alone: over the background
    EXPECT_TRUE(coef(5, 3, mark).empty()) << "a combination with a layer above it is left alone";
    EXPECT_EQ(chip->writeHistory(0x00, 0x22, mark), (std::vector<uint8_t>{255, 169, 255, 169, 255, 169}));
    EXPECT_EQ(chip->writeHistory(0x00, 0x23, mark), (std::vector<uint8_t>{255, 203, 255, 203, 255, 203}));
}

// An output that never reports a frame ends the fade after one time-out,
// with the window fully in: the chip thread is not held for each step.
TEST_F(LayerTest, FadeOnAStillOutputEndsAtTheLimit)
{
    chip->setOutputRunning(false);
    const uint64_t mark = chip->mark();
    const unsigned reads = chip->outputFrameReads();
    m->set_layer_coef(m->c331_fd, 1, 60, 1);
    EXPECT_EQ(chip->outputFrameReads() - reads, 70001u);
    EXPECT_EQ(chip->writeHistory(0x05, 0x09, mark), (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(coef(3, 2, mark), (std::vector<uint8_t>{0, 128}));
}

TEST_F(LayerTest, WindowAtMixerPositionFiveFadesOnPageTwo)
{
    for (uint32_t i = 0; i < 6; ++i)
        window(i, uint16_t(50 * i), 0, 640, 480, 0, uint16_t(i));
    m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    EXPECT_EQ(mixerOrder(0), 0x89ABCDu);
    const uint64_t mark = chip->mark();
    m->set_layer_coef(m->c331_fd, 0, 0, 0);
    EXPECT_EQ(chip->writeHistory(0x0E, 0x10, mark), std::vector<uint8_t>{0x02});   // page 0x200
    EXPECT_EQ(coef(8, 4, mark), std::vector<uint8_t>{0});     // as layer 3
    EXPECT_EQ(coef(8, 0, mark), std::vector<uint8_t>{128});
    EXPECT_EQ(coef(15, 3, mark), std::vector<uint8_t>{128});
}

TEST_F(LayoutTest, OutputFrameWait)
{
    uint64_t mark = chip->mark();
    m->wait1_povs(m->c331_fd, 8);
    EXPECT_TRUE(chip->framesSince(mark).empty());

    m->wait1_povs(m->c331_fd, 3);
    EXPECT_EQ(chip->writeHistory(0x05, 0x09, mark), (std::vector<uint8_t>{8, 0}));
    EXPECT_EQ(chip->writeHistory(0x00, 0x29, mark), (std::vector<uint8_t>{0x80, 0}));
    EXPECT_EQ(chip->outputFrameReads(), 1u);
    // With the status disabled the chip reports no frame.
    EXPECT_EQ(m->c331drv->read_C331(m->c331_fd, 0x052301, 0), 0u);
}

} // namespace
