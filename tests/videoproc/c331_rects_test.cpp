#include "window_fixture.h"

using namespace chiptest;

namespace {

using Rect = _ImageWindowDef_st;

bool same(const Rect &a, const Rect &b)
{
    return a.HST == b.HST && a.HW == b.HW && a.VST == b.VST && a.VW == b.VW;
}

std::string show(const Rect &r)
{
    return "(" + std::to_string(r.HST) + "," + std::to_string(r.HW) + "," + std::to_string(r.VST) + "," +
           std::to_string(r.VW) + ")";
}

class RectsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        m->PM_WIN_SHAPE[0][0] = 2;
        m->PM_WIN_SHAPE[0][1] = 1;
        m->PM_INPUT[0] = 3;
        channels(0, {0});
        // Distinct dot-by-dot pictures, so that a mosaic shows which ports it adds.
        for (int q = 0; q < 6; ++q)
            port(q, 148, 1000 + 100 * q, 41, 500 + 10 * q);
    }
};

TEST_F(RectsTest, ScalingRatiosByDirection)
{
    struct Case {
        int32_t in, out, mode, shrink, zoom;
    } cases[] = {
        {1920, 3840, 2, 0, 32760},
        {3840, 1920, 1, 32760, 0},
        {1920, 1920, 0, 0, 0},
        {1, 1920, 2, 0, 1},
        {1920, 1, 1, 1, 0},
        {0, 1920, 0, 0, 0},
        {1920, 0, 0, 0, 0},
        {-5, 100, 0, 0, 0},
        // (out - 1) x 65536 passes 32 bits.
        {65536, 40000, 1, 40000, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out));
        _ScalingSt s;
        m->calc_scaling(Rect{0, c.in, 0, c.in}, Rect{0, c.out, 0, c.out}, &s);
        EXPECT_EQ(s.hmode, c.mode);
        EXPECT_EQ(s.hshrink, c.shrink);
        EXPECT_EQ(s.hzoom, c.zoom);
        EXPECT_EQ(s.vmode, c.mode);
        EXPECT_EQ(s.vshrink, c.shrink);
        EXPECT_EQ(s.vzoom, c.zoom);
    }
}

TEST_F(RectsTest, InputRectangleOfPlainAndDotByDotWindows)
{
    struct Case {
        const char *name;
        int port, state, scan, ch0, dbd, cropEn;
        int32_t crop[4];
        Rect expect;
    } cases[] = {
        {"plain 1080p", 3, 4, 0, 0, 0, 0, {}, {0, 1920, 0, 1080}},
        {"format 1 doubles the width", 3, 1, 0, 0, 0, 0, {}, {0, 3840, 0, 1080}},
        {"interlaced on channel 0 is woven", 3, 5, 1, 0, 0, 0, {}, {0, 1920, 0, 2160}},
        {"interlaced on channel 4 is not", 3, 5, 1, 4, 0, 0, {}, {0, 1920, 0, 1080}},
        {"crop of (100, 50, 1720, 1000)", 3, 4, 0, 0, 0, 1, {100, 100, 50, 30}, {100, 1720, 50, 1000}},
        {"crop leaving nothing keeps the full size", 3, 4, 0, 0, 0, 1, {1000, 1000, 600, 600}, {1000, 1920, 600, 1080}},
        {"crop starting beyond the picture", 3, 4, 0, 0, 0, 1, {2000, 0, 1100, 0}, {0, 1920, 0, 1080}},
        {"crop of a woven interlaced picture in frame lines", 3, 5, 1, 0, 0, 1, {0, 0, 100, 60}, {0, 1920, 100, 2000}},
        {"the same crop of its fields on channel 4", 3, 5, 1, 4, 0, 1, {0, 0, 100, 60}, {0, 1920, 50, 1000}},
        {"port with no signal", 2, 0, 0, 0, 0, 0, {}, {0, 0, 0, 0}},
        {"no port (-1)", -1, 4, 0, 0, 0, 0, {}, {0, 0, 0, 0}},
        {"no port (6)", 6, 4, 0, 0, 0, 0, {}, {0, 0, 0, 0}},
        {"no port (255)", 255, 4, 0, 0, 0, 0, {}, {0, 0, 0, 0}},
        {"no port in a mosaic", 6, 4, 0, 0, 41, 0, {}, {0, 0, 0, 0}},
        {"one to one", 3, 4, 0, 0, 1, 0, {}, {0, 1300, 0, 530}},
        {"one to one interlaced", 3, 5, 1, 0, 1, 0, {}, {0, 1300, 0, 1060}},
        {"2 x 2 mosaic of ports 0 to 3", 3, 4, 0, 0, 41, 0, {}, {0, 2100, 0, 1020}},
        {"ports 0 to 3 in a row", 3, 4, 0, 0, 40, 0, {}, {0, 4600, 0, 500}},
        {"port 0 above port 1", 3, 4, 0, 0, 21, 0, {}, {0, 1000, 0, 1010}},
        {"V-by-One ports side by side", 4, 4, 0, 4, 50, 0, {}, {0, 2900, 0, 540}},
        {"V-by-One port 4 above port 5", 4, 4, 0, 4, 51, 0, {}, {0, 1400, 0, 1090}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // The window pipeline's view of port 3; port 2 has lost its signal.
        m->PI_ACT[3] = ST_ACT{148, 1920, 41, 1080};
        m->PI_STATE[3] = c.state;
        m->PI_ACT[2] = ST_ACT{16, 0, 16, 0};
        if (c.port >= 0 && c.port < 6)
            m->PI_SCAN_MODE[c.port] = c.scan;
        m->PM_INPUT[0] = c.port;
        m->PM_WIN_DBD_MODE[0] = c.dbd;
        m->PM_INPUT_OFFSET_EN[0] = c.cropEn;
        std::copy(c.crop, c.crop + 4, m->PM_INPUT_OFFSET[0]);
        channels(0, {c.ch0});
        m->IWIN[0] = Rect{9, 9, 9, 9};
        m->calc_iwin2(0);
        EXPECT_TRUE(same(m->IWIN[0], c.expect)) << show(m->IWIN[0]);
    }
    m->PM_WIN_SHAPE[0][1] = 0;
    m->calc_iwin2(0);
    EXPECT_TRUE(same(m->IWIN[0], Rect{0, 0, 0, 0})) << "a window without areas";
}

TEST_F(RectsTest, OutputRectangleCutsOneToOneWindowsInsteadOfScaling)
{
    struct Case {
        const char *name;
        int dbd, option;
        int32_t margin[4];
        Rect iwin, expectIwin, expectOwin;
    } cases[] = {
        {"plain with margins", 0, 0, {80, 840, 10, 20}, {0, 1920, 0, 1080}, {0, 1920, 0, 1080}, {80, 2920, 10, 1050}},
        {"margins wider than the block", 0, 0, {3000, 1000, 900, 900}, {0, 1920, 0, 1080}, {0, 1920, 0, 1080}, {3000, 0, 900, 0}},
        {"one to one is cut on both sides", 1, 0, {0, 0, 0, 0}, {0, 4000, 0, 500}, {0, 3840, 0, 500}, {0, 3840, 0, 500}},
        {"one to one with the option cuts the input only", 1, 1, {0, 0, 0, 0}, {0, 4000, 0, 500}, {0, 3840, 0, 500}, {0, 3840, 0, 1080}},
        {"the option passes an empty input on", 1, 1, {0, 0, 0, 0}, {0, 0, 0, 500}, {0, 0, 0, 500}, {0, 0, 0, 1080}},
        {"one to one in too small a block stays empty", 1, 0, {1920, 1920, 0, 0}, {0, 1000, 0, 500}, {0, 0, 0, 500}, {1920, 0, 0, 500}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m->PM_WIN_DBD_MODE[0] = c.dbd;
        m->PM_WIN_DBD_OPT[0] = c.option;
        std::copy(c.margin, c.margin + 4, m->PM_WIN_OFFSET[0]);
        m->IWIN[0] = c.iwin;
        m->calc_owin2(0);
        EXPECT_TRUE(same(m->IWIN[0], c.expectIwin)) << show(m->IWIN[0]);
        EXPECT_TRUE(same(m->OWIN[0], c.expectOwin)) << show(m->OWIN[0]);
    }
}

TEST_F(RectsTest, AreaSplitMarksTheFirstAndLastAreaTouched)
{
    struct Case {
        const char *name;
        int cols, rows;
        Rect owin;
        int32_t hst[2], hw[2], vst[2], vw[2];
        int hfirst, hlast, vfirst, vlast;
    } cases[] = {
        {"over two columns", 2, 1, {80, 2920, 0, 1080}, {80, 0}, {1840, 1080}, {0, 0}, {1080, 0}, 0, 1, 0, 0},
        {"left margin beyond the first column", 2, 1, {2000, 1000, 0, 1080}, {0, 80}, {0, 1000}, {0, 0}, {1080, 0}, 1, 1, 0, 0},
        {"over two rows", 1, 2, {0, 1920, 100, 1500}, {0, 0}, {1920, 0}, {100, 0}, {980, 520}, 0, 0, 0, 1},
        {"ending on the column edge", 2, 1, {0, 1920, 0, 1080}, {0, 0}, {1920, 0}, {0, 0}, {1080, 0}, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m->PM_WIN_SHAPE[0][0] = c.cols;
        m->PM_WIN_SHAPE[0][1] = c.rows;
        _ImageWindowDef2_St a[8];
        m->calc_oact(c.owin, a, 0);
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(a[i].hst, c.hst[i]);
            EXPECT_EQ(a[i].hw, c.hw[i]);
            EXPECT_EQ(a[i].vst, c.vst[i]);
            EXPECT_EQ(a[i].vw, c.vw[i]);
            EXPECT_EQ(a[i].hfirst, i == c.hfirst);
            EXPECT_EQ(a[i].hlast, i == c.hlast);
            EXPECT_EQ(a[i].vfirst, i == c.vfirst);
            EXPECT_EQ(a[i].vlast, i == c.vlast);
        }
    }
    // A shape beyond the eight areas of the record stops at eight.
    m->PM_WIN_SHAPE[0][0] = 12;
    _ImageWindowDef2_St a[8];
    m->calc_oact(Rect{0, 12 * 1920, 0, 1080}, a, 0);
    EXPECT_EQ(a[7].hw, 1920);
    EXPECT_EQ(a[7].hlast, 1);
}

TEST_F(RectsTest, StitchingPartnerAndMaster)
{
    struct Case {
        const char *name;
        int32_t stitching[6];
        int32_t w, result, master, partner;
    } cases[] = {
        {"alone", {0, 1, 2, 3, 4, 5}, 2, 0, 2, -1},
        {"group head", {0, 0, 2, 3, 0, 5}, 0, 1, 0, 4},
        {"member is replaced by its master", {0, 0, 2, 3, 0, 5}, 1, 2, 0, 4},
        {"master that is no window", {0, 1, 7, 3, 4, 5}, 2, 0, 2, -1},
        {"master that has a master itself", {1, 2, 2, 3, 4, 5}, 0, 0, 1, 0},
        {"no window", {0, 1, 2, 3, 4, 5}, 6, 0, 6, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::copy(c.stitching, c.stitching + 6, m->PM_WIN_STITCHING);
        int32_t w = c.w, partner = 99;
        EXPECT_EQ(m->check_stitching_win(&w, &partner), c.result);
        EXPECT_EQ(w, c.master);
        EXPECT_EQ(partner, c.partner);
    }
}

} // namespace
