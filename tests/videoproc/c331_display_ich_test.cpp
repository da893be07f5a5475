#include "window_fixture.h"

using namespace chiptest;

namespace {

using Rect = _ImageWindowDef_st;
using Load = SimC331::FilterLoad;

constexpr uint32_t WRITE_CTRL = 0x100901, CAP_HST = 0x101702, CAP_HW = 0x101902, CAP_VST = 0x101B02,
                   CAP_VW = 0x101D02, PHASE_FLAGS = 0x114201, SCALER = 0x114301, HCTRL = 0x114401,
                   HPHASE_A = 0x114501, HPHASE_B = 0x114601, HRATIO = 0x114702, VCTRL = 0x114901,
                   VPHASE_A = 0x114A01, VPHASE_B = 0x114B01, VRATIO = 0x114C02, FRAME_BUF = 0x161C04,
                   PITCH = 0x163101, INDICES = 0x166603;

class IchTest : public WindowTest
{
protected:
    // Frame buffer k of input channel ch.
    uint32_t buffer(int ch, int k) const { return reg(FRAME_BUF + (uint32_t(4 * k) << 8), ch); }

    // A V-by-One port whose line arrives in two halves of 1920 pixels, on
    // the pair 4 and 5 of window 0.
    void twoHalves(int W = 1920)
    {
        port(4, 100, W, 20, 2160, 1);
        m->PI_HDMI_INFO[4].lane = 8;
        m->PM_INPUT[0] = 4;
        channels(0, {4, 5});
    }
};

TEST_F(IchTest, TwoHalfShrinkPlacesTheSecondHalfByPacking)
{
    struct Case {
        int preferred, mode;
        uint32_t offset0, offset1;
    } cases[] = {
        {0, 0, 0, 3840},   // packed modes allow the overlap of 0: preferred 0 stays 0
        {1, 1, 0, 3072},
        {2, 2, 0, 2560},
        {3, 3, 0, 1920},
    };
    twoHalves();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.preferred);
        m->PS_MEM_WMODE[0] = m->PM_MEM_WMODE[0] = c.preferred;
        m->clear_calls();
        m->set_display_window_ich(fd, Rect{0, 3840, 0, 2160}, Rect{0, 1920, 0, 1080}, 0);
        EXPECT_EQ(m->PM_MEM_WMODE[0], c.mode);
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(buffer(4, k), m->PS_MEM_SC[4][k] + c.offset0);
            EXPECT_EQ(buffer(5, k), m->PS_MEM_SC[4][k] + c.offset1);
        }
    }
    for (int ch : {4, 5}) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(reg(CAP_HST, ch), 93u);
        EXPECT_EQ(reg(CAP_HW, ch), 1920u);
        EXPECT_EQ(reg(CAP_VST, ch), 21u);
        EXPECT_EQ(reg(CAP_VW, ch), 2160u);
        EXPECT_EQ(reg(HCTRL, ch), 0xC7u);
        EXPECT_EQ(reg(HRATIO, ch), 32760u);
        EXPECT_EQ(reg(VCTRL, ch), 0x84u);
        EXPECT_EQ(reg(VRATIO, ch), 32753u);
        EXPECT_EQ(reg(SCALER, ch), 2u);
        EXPECT_EQ(reg(PITCH, ch), 64u);
        EXPECT_EQ(reg(INDICES, ch), 0x43210u);
    }
    EXPECT_EQ(reg(WRITE_CTRL, 4), 1u);
    EXPECT_EQ(reg(WRITE_CTRL, 5), 12u);   // linked to its pair
    EXPECT_EQ(reg(PHASE_FLAGS, 4), 0u);
    EXPECT_EQ(reg(PHASE_FLAGS, 5), 0x80u);
    EXPECT_EQ(reg(HPHASE_A, 5), 196u);
    EXPECT_EQ(reg(HPHASE_B, 5), 196u);
    // The pair splits the line of port 4 (start 100, two halves of 1920), and
    // selects port 4 on eight lanes.
    EXPECT_EQ(chip->reg(0x03, 0x08 + 18), 3);
    EXPECT_EQ(chip->value(0x031B02), 100u);
    EXPECT_EQ(chip->value(0x031D02), 3840u);
    EXPECT_EQ(chip->reg(0x00, 0x14), 8);
    EXPECT_EQ(chip->reg(0x00, 0x15), 10);
    EXPECT_EQ(chip->reg(0x00, 0x0C), 17);   // the processing mode of the pair
    EXPECT_EQ(m->ich_pair_mode[5], 1);
}

// A strong shrink needs an overlap the packed modes cannot take: the window
// falls back to packing 0 once and stays there.
TEST_F(IchTest, PackingFallsBackOnceWhenTheOverlapIsTooLarge)
{
    twoHalves(1900);
    m->PS_MEM_WMODE[0] = 1;
    m->set_display_window_ich(fd, Rect{0, 3800, 0, 1080}, Rect{0, 214, 0, 1080}, 0);
    EXPECT_EQ(m->PM_MEM_WMODE[0], 0);
    EXPECT_EQ(reg(HRATIO, 4), 3675u);
    // Packing 0 does not use the overlap: both halves keep their capture.
    EXPECT_EQ(reg(CAP_HW, 4), 1900u);
    EXPECT_EQ(reg(CAP_HST, 5), 93u);
    EXPECT_EQ(reg(CAP_HW, 5), 1900u);
    EXPECT_EQ(buffer(5, 0), m->PS_MEM_SC[4][0] + 4 * 107);
    EXPECT_EQ(reg(HPHASE_A, 5), 139u);
    EXPECT_EQ(reg(PHASE_FLAGS, 5), 0x80u);
    EXPECT_EQ(chip->reg(0x00, 0x75), 0x00);
    EXPECT_EQ(chip->reg(0x00, 0x76), 0x00);
}

// The packed modes take an overlap of two pixels and no more: 3840 pixels
// shrunk to 1226 need it (ratio 20913, 614 outputs from 1922 inputs), to
// 1230 one more (ratio 20981, 616 outputs from 1923 inputs), and the window
// falls back to packing 0, whose halves keep their capture.
TEST_F(IchTest, PackedModesTakeAnOverlapOfTwoPixels)
{
    struct Case {
        int32_t out;
        int mode;
        uint32_t width0, start1, width1, offset1;
    } cases[] = {
        {1226, 1, 1922, 95, 1918, 16 * 122 + 3 * 4},   // packed size of 614 pixels
        {1230, 0, 1920, 93, 1920, 4 * 615},
    };
    twoHalves();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.out);
        m->PS_MEM_WMODE[0] = 1;
        m->set_display_window_ich(fd, Rect{0, 3840, 0, 1080}, Rect{0, c.out, 0, 1080}, 0);
        EXPECT_EQ(m->PM_MEM_WMODE[0], c.mode);
        EXPECT_EQ(reg(CAP_HW, 4), c.width0);
        EXPECT_EQ(reg(CAP_HST, 5), c.start1);
        EXPECT_EQ(reg(CAP_HW, 5), c.width1);
        EXPECT_EQ(buffer(5, 0), m->PS_MEM_SC[4][0] + c.offset1);
    }
}

TEST_F(IchTest, CaptureSplitOfALineByTheCaptureOffset)
{
    struct Case {
        int state, X;
        int32_t start0, width0, start1, width1;
        uint32_t offset1;
    } cases[] = {
        {1, 0, 93, 1920, 93, 1920, 7680},
        {1, 300, 393, 1620, 93, 2220, 6480},
        {1, 1920, 2013, 0, 93, 3840, 0},
        {1, 2000, 2013, 0, 173, 3840, 0},
        {1, -1920, -1827, 3840, 93, 0, 15360},
        {4, 300, 393, 1920, 0, 0, 7680},
    };
    twoHalves();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.state) + " / " + std::to_string(c.X));
        m->PI_STATE[4] = c.state;
        m->PM_IACTHST[0] = c.X;
        m->set_display_window_ich(fd, Rect{0, 3840, 0, 2160}, Rect{0, 3840, 0, 2160}, 0);
        EXPECT_EQ(reg(CAP_HST, 4), uint32_t(c.start0) & 0xFFFF);
        EXPECT_EQ(reg(CAP_HW, 4), uint32_t(c.width0));
        EXPECT_EQ(reg(CAP_HST, 5), uint32_t(c.start1));
        EXPECT_EQ(reg(CAP_HW, 5), uint32_t(c.width1));
        EXPECT_EQ(buffer(5, 0), m->PS_MEM_SC[4][0] + c.offset1);
    }
}

TEST_F(IchTest, SingleChannelShrinkAndNoShrinkRegisters)
{
    struct Case {
        const char *name;
        Rect iwin, owin;
        uint32_t flags, hctrl, hratio, hphase, vctrl, vratio, vphase;
        uint8_t table;
        int row;
    } cases[] = {
        {"window larger than its input", {0, 1920, 0, 1080}, {0, 3840, 0, 2160}, 0, 0x80, 0, 0, 0x80, 0, 0, 44, 9},
        {"shrink from inside the input", {100, 1820, 50, 1000}, {0, 910, 0, 500}, 0x88, 0xC7, 32750, 8, 0x84, 32736, 7, 4, 3},
    };
    port(0, 148, 1920, 41, 1080);
    m->PM_INPUT[0] = 0;
    m->PM_IACTVST[0] = 2;
    channels(0, {1});
    const uint8_t ring[5] = {4, 0, 1, 2, 3};
    std::copy(ring, ring + 5, m->win_buf_idx[0]);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m->clear_calls();
        uint64_t mark = chip->mark();
        m->set_display_window_ich(fd, c.iwin, c.owin, 0);
        EXPECT_EQ(reg(WRITE_CTRL, 1), 1u);
        EXPECT_EQ(reg(CAP_HST, 1), 141u);
        EXPECT_EQ(reg(CAP_HW, 1), 1920u);
        EXPECT_EQ(reg(CAP_VST, 1), 44u);
        EXPECT_EQ(reg(CAP_VW, 1), 1080u);
        EXPECT_EQ(reg(PHASE_FLAGS, 1), c.flags);
        EXPECT_EQ(reg(HCTRL, 1), c.hctrl);
        EXPECT_EQ(reg(HRATIO, 1), c.hratio);
        EXPECT_EQ(reg(HPHASE_A, 1), c.hphase);
        EXPECT_EQ(reg(HPHASE_B, 1), c.hphase);
        EXPECT_EQ(reg(VCTRL, 1), c.vctrl);
        EXPECT_EQ(reg(VRATIO, 1), c.vratio);
        EXPECT_EQ(reg(VPHASE_A, 1), c.vphase);
        EXPECT_EQ(reg(VPHASE_B, 1), c.vphase);
        EXPECT_EQ(reg(INDICES, 1), 0x32104u);
        EXPECT_EQ(buffer(1, 4), m->PS_MEM_SC[1][4]);
        EXPECT_EQ(chip->filterLoads(mark), (std::vector<Load>{{0, c.table, 135}}));
        EXPECT_EQ(chip->reg(0x21, 0x70), uint8_t(c331_manage::lut[c.row][8]));
        EXPECT_TRUE(chip->writeHistory(0x10 + 32, 0x09, mark).empty()) << "no second channel";
        EXPECT_EQ(chip->writeHistory(0x03, 0x08, mark), std::vector<uint8_t>{0}) << "no split";
        EXPECT_EQ(chip->writeHistory(0x00, 0x11, mark), std::vector<uint8_t>{0}) << "channel 1 takes port 0";
        EXPECT_EQ(chip->writeHistory(0x00, 0x09, mark).size(), 1u) << "processing mode";
        EXPECT_EQ(chip->writeHistory(0x25, 0x70, mark).size(), 1u) << "noise-reduction path";
    }
}

TEST_F(IchTest, InterlacedInputForcesPackingTwo)
{
    port(0, 148, 1922, 22, 540, 5);
    m->PI_SCAN_MODE[0] = 1;
    m->PM_INPUT[0] = 0;
    channels(0, {0});
    m->set_display_window_ich(fd, Rect{0, 1922, 0, 1080}, Rect{0, 1922, 0, 1080}, 0);
    EXPECT_EQ(m->PM_MEM_WMODE[0], 2);
    EXPECT_EQ(chip->reg(0x00, 0x71), 0x01);
    EXPECT_EQ(buffer(0, 0), m->PS_MEM_SC[0][0] + 2);   // 1922 pixels round up by 1: 2 bytes in
}

// Widths whose products pass 32 bits keep exact register values.
TEST_F(IchTest, WideShrinkIsComputedWithoutOverflow)
{
    twoHalves(36000);
    m->set_display_window_ich(fd, Rect{0, 72000, 0, 1080}, Rect{0, 71000, 0, 1080}, 0);
    EXPECT_EQ(reg(HRATIO, 4), 64626u);
    EXPECT_EQ(buffer(5, 0), m->PS_MEM_SC[4][0] + 142000);
    EXPECT_EQ(reg(HPHASE_A, 5), 31u);
    EXPECT_EQ(reg(PHASE_FLAGS, 5), 0u);
}

TEST_F(IchTest, NothingIsProgrammedWithoutAChannelOrAPort)
{
    port(0, 148, 1920, 41, 1080);
    for (int p : {-1, 6, 255}) {
        SCOPED_TRACE(p);
        m->PM_INPUT[0] = p;
        channels(0, {0});
        uint64_t mark = chip->mark();
        m->set_display_window_ich(fd, Rect{0, 1920, 0, 1080}, Rect{0, 1920, 0, 1080}, 0);
        EXPECT_TRUE(chip->framesSince(mark).empty());
    }
    m->PM_INPUT[0] = 0;
    channels(0, {});
    uint64_t mark = chip->mark();
    m->set_display_window_ich(fd, Rect{0, 1920, 0, 1080}, Rect{0, 1920, 0, 1080}, 0);
    m->set_display_window_ich_dbd(fd, 0, 41);
    EXPECT_TRUE(chip->framesSince(mark).empty());
    EXPECT_TRUE(texts(*m).empty());
}

TEST_F(IchTest, DotByDotWindowWithoutMemoryDropsItsRequests)
{
    m->PM_INPUT[0] = 4;
    channels(0, {4, 5});
    m->g_chg_input[0] = 1;
    m->g_chg_dbd[0] = 1;
    const uint64_t mark = chip->mark();
    m->set_display_window_ich_dbd(fd, 0, 1);
    EXPECT_EQ(chip->writeHistory(0x03, 0x08 + 18, mark), (std::vector<uint8_t>{0, 0})) << "pair 4, 5 not split";
    EXPECT_EQ(std::vector<int32_t>(m->win_dbd_block[0], m->win_dbd_block[0] + 4), std::vector<int32_t>(4, -1));
    EXPECT_EQ(chip->writeHistory(0x00, 0x0C).size(), 1u) << "processing mode";
    EXPECT_EQ(m->g_chg_input[0], 0);
    EXPECT_EQ(m->g_chg_dbd[0], 0);
}

TEST_F(IchTest, DotByDotMosaicChannels)
{
    struct Chan {
        int ch;
        uint32_t ctrl;
        int32_t hst, hw, vst, vw;
        uint32_t offset;
    };
    const uint32_t block = 12 * 500 * 1024;
    struct Case {
        const char *name;
        int mode, port, state, preferred, scan;
        std::vector<int> list;
        std::vector<Chan> expect;
        uint8_t packing;
    } cases[] = {
        {"2 x 2", 41, 0, 4, 0, 0, {0, 1, 2, 3},
         {{0, 1, 93, 1000, 21, 500, 0}, {1, 8, 94, 1100, 22, 510, 4000},
          {2, 8, 95, 1200, 23, 520, block}, {3, 8, 96, 1300, 24, 530, 4000 + block}}, 0x00},
        {"2 x 2 packed", 41, 0, 4, 1, 0, {0, 1, 2, 3},
         {{0, 1, 93, 1000, 21, 500, 0}, {1, 8, 94, 1100, 22, 510, 3200},
          {2, 8, 95, 1200, 23, 520, block}, {3, 8, 96, 1300, 24, 530, 3200 + block}}, 0x80},
        {"stacked", 21, 0, 4, 0, 0, {2, 3},
         {{2, 1, 93, 1000, 21, 500, 0}, {3, 10, 94, 1100, 22, 510, block}}, 0x00},
        {"V-by-One halves side by side", 50, 4, 1, 0, 0, {4, 5, 6, 7},
         {{4, 1, 45, 750, 26, 550, 0}, {5, 12, 45, 750, 26, 550, 3000},
          {6, 12, 45, 700, 25, 540, 6000}, {7, 12, 45, 700, 25, 540, 8800}}, 0x00},
        {"one V-by-One port in one stream", 1, 4, 4, 0, 0, {4, 5},
         {{4, 1, 97, 1400, 25, 540, 0}, {5, 12, 0, 0, 0, 0, 5600}}, 0x00},
        {"one interlaced port", 1, 0, 5, 0, 1, {0},
         {{0, 1, 93, 1000, 21, 500, 4}}, 0x01},
        {"one interlaced port whatever the preference", 1, 0, 5, 3, 1, {0},
         {{0, 1, 93, 1000, 21, 500, 4}}, 0x01},
        {"2 x 2 with an interlaced port keeps its packing", 41, 0, 5, 1, 1, {0, 1, 2, 3},
         {{0, 1, 93, 1000, 21, 500, 0}, {1, 8, 94, 1100, 22, 510, 3200},
          {2, 8, 95, 1200, 23, 520, block}, {3, 8, 96, 1300, 24, 530, 3200 + block}}, 0x80},
        {"mosaic needing more channels than given", 50, 4, 1, 0, 0, {4, 5, 6}, {}, 0},
        {"no mosaic", 7, 0, 4, 0, 0, {0, 1}, {}, 0},
    };
    for (int q = 0; q < 6; ++q)
        port(q, 100 + q, 1000 + 100 * q, 20 + q, 500 + 10 * q);
    m->dbd_pitch[0] = 12;
    for (int k = 0; k < 5; ++k)
        m->dbd_mem_addr[0][k] = 0x1000000u * (k + 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        chip = std::make_shared<SimC331>();
        platform::spi::sim::attach(c331_drv::DEVICE, chip);
        m->c331drv->init_reg_acc_param();
        m->clear_calls();
        m->PM_INPUT[0] = c.port;
        m->PI_STATE[c.port] = c.state;
        m->PI_SCAN_MODE[c.port] = c.scan;
        m->PS_MEM_WMODE[0] = c.preferred;
        int k = 0;
        for (int ch : c.list)
            m->win_ich[0][k++] = ch;
        m->win_ich[0][k] = -1;
        m->set_dbd_channels(fd, 0, c.mode);
        if (c.expect.empty()) {
            EXPECT_TRUE(chip->log().empty());
            continue;
        }
        // The output side reads with the packing the channels write.
        EXPECT_EQ(c331_manage::packing_value(m->PM_MEM_WMODE[0]), c.packing);
        for (const Chan &e : c.expect) {
            SCOPED_TRACE(e.ch);
            EXPECT_EQ(reg(WRITE_CTRL, e.ch), e.ctrl);
            EXPECT_EQ(reg(CAP_HST, e.ch), uint32_t(e.hst));
            EXPECT_EQ(reg(CAP_HW, e.ch), uint32_t(e.hw));
            EXPECT_EQ(reg(CAP_VST, e.ch), uint32_t(e.vst));
            EXPECT_EQ(reg(CAP_VW, e.ch), uint32_t(e.vw));
            EXPECT_EQ(buffer(e.ch, 2), 0x3000000u + e.offset);
            EXPECT_EQ(reg(PITCH, e.ch), 12u);
            EXPECT_EQ(chip->writeHistory(uint8_t(0x11 + 16 * e.ch), 0x43), std::vector<uint8_t>{0});
            EXPECT_EQ(chip->writeHistory(uint8_t(0x11 + 16 * e.ch), 0x44), std::vector<uint8_t>{0});
            EXPECT_EQ(chip->reg(0x00, uint8_t(0x71 + e.ch)), c.packing);
        }
        EXPECT_EQ(chip->writeHistory(0x00, uint8_t(0x08 + c.expect[0].ch)).size(), 1u) << "processing mode";
    }
}

} // namespace
