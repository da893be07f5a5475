// LED panel and output timing: how the chip's output channels carry the LED
// wall, their active size, blanking and total timing, the values the PC tool
// reads back from the image, and the output timing generators.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "app/para_layout.h"
#include "app/para_lock.h"
#include "videoproc/c331_regtable.h"

#include <algorithm>
#include <cstring>

namespace {

// Every admissible output timing carries about 9,900,000 pixels per frame
// (594 MHz at 60 frames per second), at most 0.1 % more.
constexpr int64_t FRAME_PIXELS = 9900000;
constexpr int64_t FRAME_PIXELS_MAX = FRAME_PIXELS + FRAME_PIXELS / 1000;
constexpr int HTT_FIRST = 660;
constexpr int HTT_LAST = 8280;
constexpr int HTT_STEP = 4;

// Largest wall one output channel pair carries.
constexpr int ONE_PAIR_WIDTH = 8192;
constexpr int64_t ONE_PAIR_PIXELS = 9800000;

struct Timing {
    int htt, vtt;
};

// The admissible timings in rising HTT; for each HTT its VTT values from the
// smallest that reaches the frame's pixel count upwards. Built on first use.
const std::vector<Timing> &timing_table()
{
    static const std::vector<Timing> table = [] {
        std::vector<Timing> t;
        for (int h = HTT_FIRST; h <= HTT_LAST; h += HTT_STEP)
            for (int64_t v = (FRAME_PIXELS + h - 1) / h; h * v <= FRAME_PIXELS_MAX; ++v)
                t.push_back(Timing{h, static_cast<int>(v)});
        return t;
    }();
    return table;
}

// What the output looks like for one splice mode: sync widths, front
// porches, blanking, the chip's channel arrangement, the LED outputs the PC
// tool is told of and the V-by-One lane map.
struct OutputShape {
    int hsw, hfp, vsw, vfp;
    int hblank, vblank;
    int arrang;
    uint8_t led_h, led_v;
    uint32_t lanes;
};

// Index: splice mode 0..5.
constexpr OutputShape ONE_PAIR[6] = {
    {12, 4, 3, 3, 64, 12, 5, 1, 1, 0x03020100},
    {12, 4, 3, 3, 64, 12, 8, 1, 2, 0x00010000},
    {12, 4, 3, 3, 64, 38, 8, 1, 2, 0x00010000},
    {12, 4, 3, 3, 64, 12, 5, 2, 1, 0x00010000},
    {12, 4, 3, 3, 64, 12, 5, 1, 1, 0x00000000},
    {12, 4, 3, 3, 64, 12, 5, 1, 2, 0x00010000},
};
constexpr OutputShape TWO_PAIRS[6] = {
    {12, 32, 12, 32, 76, 76, 6, 2, 1, 0x03020100},
    {12, 32, 12, 32, 76, 76, 7, 2, 2, 0x00010000},
    {12, 32, 12, 32, 76, 76, 7, 2, 2, 0x03020100},
    {64, 64, 64, 32, 192, 128, 6, 4, 1, 0x03020100},
    {12, 32, 12, 32, 76, 76, 6, 2, 1, 0x01000100},
    {12, 32, 12, 32, 76, 76, 5, 2, 2, 0x00010000},
};

const char *const SPLICE_NAMES[6] = {"SPLICE MODE: NONE", "SPLICE MODE: HV", "SPLICE MODE: V",
                                     "SPLICE MODE: H",    "SPLICE MODE: CP12", "SPLICE MODE: CP21"};

// Channel arrangements 5..8: channels across and down.
struct Arrangement {
    const char *name;
    uint8_t across, down;
};
constexpr Arrangement ARRANGEMENTS[4] = {
    {"ARRANG2K4_2x1", 2, 1},
    {"ARRANG2K4_4x1_8K", 4, 1},
    {"ARRANG2K4_2x2_8K", 2, 2},
    {"ARRANG2K4_1x2", 1, 2},
};

// Closing sequence of the panel set-up: transmitter sizes, channel order
// maps and the clock dividers of the new timing.
constexpr c331_table::RegVal PANEL_TAIL[] = {
    {0x032C02, 0},    {0x032E01, 0},    {0x032F02, 0},          {0x020801, 9},
    {0x035E04, 0x76543210}, {0x033602, 0}, {0x033801, 0},       {0x033902, 0},
    {0x027801, 9},    {0x036204, 0x76543210}, {0x004701, 0x21}, {0x004C01, 0x21},
    {0x004B01, 11},   {0x005001, 11},   {0x004801, 0x89},       {0x004D01, 0x89},
};

int ceil_div(int a, int b) { return (a + b - 1) / b; }
int round_up(int v, int step) { return ceil_div(v, step) * step; }
bool outputs_stacked(int splice) { return splice == 1 || splice == 2; }

const OutputShape &shape_of(const ST_PANEL &p) { return (p.use1och ? ONE_PAIR : TWO_PAIRS)[p.splice]; }

} // namespace

bool c331_manage::find_timing(int &htt, int &vtt)
{
    const std::vector<Timing> &table = timing_table();
    auto first = std::lower_bound(table.begin(), table.end(), htt,
                                  [](const Timing &t, int h) { return t.htt < h; });
    auto hit = std::find_if(first, table.end(), [&](const Timing &t) { return t.vtt >= vtt; });
    if (hit == table.end())
        return false;
    htt = hit->htt;
    vtt = hit->vtt;
    return true;
}

void c331_manage::zemApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice)
{
    gPanel = ST_PANEL{};
    ST_PANEL &p = gPanel;
    p.splice = (splice % 6 + 6) % 6;
    p.width = static_cast<uint16_t>(std::clamp(ledW, 0, 0xFFFF));
    p.height = static_cast<uint16_t>(std::clamp(ledH, 0, 0xFFFF));
    // A first output larger than the wall is taken as the whole wall, so that
    // the second output's size cannot wrap round.
    const uint16_t o1w = static_cast<uint16_t>(std::clamp(out1w, 0, int(p.width)));
    const uint16_t o1h = static_cast<uint16_t>(std::clamp(out1h, 0, int(p.height)));
    switch (p.splice) {
    case 0:
    case 4:
        p.w1 = p.w2 = p.width;
        p.h1 = p.height;
        break;
    case 1:
    case 2:
        p.w1 = p.width;
        p.h1 = o1h;
        p.h2 = p.height - o1h;
        break;
    case 3:
        p.w1 = o1w;
        p.w2 = p.width - o1w;
        p.h1 = p.height;
        break;
    default:
        break;
    }
    debugPrint("\n [zemApi_PnlInit2] %s  led %dx%d  out1 %dx%d\n", SPLICE_NAMES[p.splice], p.width, p.height,
               o1w, o1h);

    zemApi_PnlInitOch3();
    zemApi_initEnvC331();
    std::memset(ich_out, 0xFF, sizeof(ich_out));
    for (int k = 0; k < 6; ++k)
        ich_out[k].oimgct = 1;
    zemApi_MultiWinChAlloc(1);
    zemApi_MultiWinChInit();
    zemDbg_c331_param();
}

void c331_manage::zemApi_PnlInitOch3()
{
    ST_PANEL &p = gPanel;
    const bool stacked = outputs_stacked(p.splice);
    const int W = stacked ? p.w1 + p.w2 : std::max(p.w1, p.w2);
    const int H = stacked ? std::max(p.h1, p.h2) : p.h1 + p.h2;
    p.use1och = p.w1 < ONE_PAIR_WIDTH && p.w2 < ONE_PAIR_WIDTH && int64_t(W) * H <= ONE_PAIR_PIXELS;

    const OutputShape &s = shape_of(p);
    const Arrangement &a = ARRANGEMENTS[s.arrang - 5];
    p.HSW = s.hsw;
    p.HFP = s.hfp;
    p.VSW = s.vsw;
    p.VFP = s.vfp;
    p.arrang = s.arrang;
    p.och_HCnt = a.across;
    p.och_VCnt = a.down;
    p.ochBW = 0;
    p.xoffs = 0;
    debugPrint("\n [zemApi_PnlInitOch3] %s  use1och %d  W %d  H %d\n", a.name, p.use1och, W, H);

    zemApi_PnlInitOch_diff(&p.HTT, &p.VTT, s.hblank, s.vblank, round_up(W, p.use1och ? 4 : 8), H);
    if (stacked) {
        const int rows = p.och_VCnt / 2;
        p.och.height = ceil_div(H, rows);
        p.yoffs = static_cast<uint16_t>(p.och.height * rows - p.h1);
    } else if (p.splice == 3) {
        p.xoffs = static_cast<uint16_t>(p.och.width * p.och_HCnt / 2 - p.w1);
    } else {
        p.och.height = ceil_div(p.height, p.och_VCnt);
    }
    zemApi_WriteRam(para::LED_SPLICE);
    zemApi_c331InitRegPanel();
}

int c331_manage::zemApi_PnlInitOch_diff(int *htt, int *vtt, int hblank, int vblank, int width, int height)
{
    if (!gPanel.use1och) {
        if (!outputs_stacked(gPanel.splice)) {
            width /= 2;
        } else {
            height /= 2;
            if (gPanel.arrang == 7)
                width /= 2;
        }
    }
    int h = width + hblank;
    int v = height + vblank;
    if (!find_timing(h, v) && gPanel.use1och)
        h = round_up(h, 4);
    *htt = h;
    *vtt = v;
    gPanel.och.height = v - vblank;
    gPanel.och.width = width;
    return 1;
}

void c331_manage::zemApi_WriteRam(int offset)
{
    if (offset != static_cast<int>(para::LED_SPLICE))
        return;
    const ST_PANEL &p = gPanel;
    const OutputShape &s = shape_of(p);
    write_back({{para::LED_X, p.xoffs},
                {para::LED_Y, p.yoffs},
                {para::OCH_NUM_H, static_cast<uint16_t>(s.led_h)},
                {para::OCH_NUM_V, static_cast<uint16_t>(s.led_v)},
                {para::OCH_W, static_cast<uint16_t>(p.och.width)},
                {para::OCH_H, static_cast<uint16_t>(p.och.height)},
                {para::OCH_BANDWIDTH, static_cast<uint16_t>(p.ochBW)}});
    {
        ParaLock lock;
        m_published_use1och = p.use1och;
    }
    debugPrint("\n========PC RAM=======\n och_num_h %d\n och_num_v %d\n och_w %d\n och_h %d\n led_x %d\n led_y %d\n",
               s.led_h, s.led_v, p.och.width, p.och.height, p.xoffs, p.yoffs);
}

uint8_t c331_manage::published_use1och()
{
    ParaLock lock;
    return m_published_use1och;
}

void c331_manage::zemApi_c331InitRegPanel()
{
    const ST_PANEL &p = gPanel;
    const int width = p.och.width;
    const int height = p.och.height;
    PS_ACTHW = width;
    PS_ACTVW = height;
    PS_HTOTAL = p.HTT;
    PS_VTOTAL = p.VTT;
    PS_HSW = p.HSW;
    PS_VSW = p.VSW;
    PS_HFP = p.HFP;
    PS_HBP = p.HTT - width - p.HSW - p.HFP;
    PS_VBP = p.VTT - height - p.VSW - p.VFP;
    PS_OAOIHST = PS_ACTHST = p.HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + width;
    PS_OAOIVST = PS_ACTVST = p.VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + height;

    c331_drv &d = *c331drv;
    for (uint32_t reg : {0x034401u, 0x034C01u})
        d.write_C331(c331_fd, reg, p.HSW / 2 - 1, 0);
    for (uint32_t reg : {0x034501u, 0x034D01u})
        d.write_C331(c331_fd, reg, p.VSW - 1, 0);

    PS_VBOTX_MODE = 2;
    PS_VBOTX_LAYOUT = p.arrang == 7 || p.arrang == 8 ? 1 : 0;
    PS_PANEL_HSHAPE = PS_VBOTX_LAYOUT == 0 ? (p.use1och ? 2 : 4) : (p.use1och ? 1 : 2);
    PS_PANEL_VSHAPE = PS_VBOTX_LAYOUT == 0 ? 1 : 2;
    PS_PANEL_HW = PS_PANEL_HSHAPE * width;
    PS_PANEL_VW = PS_PANEL_VSHAPE * height;

    const c331_table::RegVal timing[] = {
        {0x080A02, uint32_t(p.HTT - 2)}, {0x080C02, uint32_t(p.VTT - 2)}, {0x081D02, 0x40},
        {0x082802, uint32_t(PS_OAOIHST)}, {0x082A02, uint32_t(PS_OAOIHED)}, {0x082C02, uint32_t(PS_OAOIVST)},
        {0x082E02, uint32_t(PS_OAOIVED)}, {0x083002, uint32_t(PS_OAOIHST)}, {0x083202, uint32_t(PS_OAOIHED)},
        {0x083402, uint32_t(PS_OAOIVST)}, {0x083602, uint32_t(PS_OAOIVED)}, {0x084002, uint32_t(PS_ACTHST)},
        {0x084202, uint32_t(width)},      {0x084402, uint32_t(PS_ACTVST)},  {0x084602, uint32_t(height + 1)},
    };
    for (int c = 0; c < OCH_NUM; ++c)
        c331_table::write(d, c331_fd, timing, 16 * c);
    d.write_C331(c331_fd, 0x035E04, 0x76543210, 0);
    d.write_C331(c331_fd, 0x036204, 0x76543210, 0);
    d.write_C331(c331_fd, 0x035504, shape_of(p).lanes, 0);
    c331_table::write(d, c331_fd, PANEL_TAIL);
    PS_ICLK_DIV[4] = 11;
    PS_ICLK_DIV[1] = 0x89;
}

// ---- diagnostics ----

void c331_manage::c331_outputTimmingCtrlReg(int po1, int po2)
{
    static const char *const VS_PIN[4] = {"VS", "HS", "ACT", "PWM"};
    static const char *const FIELD_PIN[4] = {"FLD", "ACT", "HS", "GLPWM"};
    c331drv->write_C331(c331_fd, 0x005502, uint32_t(po1 & 0xFF) | uint32_t(po2 & 0xFF) << 8, 0);
    const int ports[2] = {po1, po2};
    for (int k = 0; k < 2; ++k) {
        const int v = ports[k];
        const int clock = v & 3;
        debugPrint("\n output %d: %s  VS pin %s  field pin %s  %s%s\n", k + 1,
                   clock == 1 ? "XTALCLK" : clock == 2 ? "PIPLLCLK" : "CLK", VS_PIN[(v >> 2) & 3],
                   FIELD_PIN[(v >> 4) & 3], k == 0 ? "POSY1EN=" : "POSY2EN=", (v & 0x40) ? "1" : "0");
    }
}

void c331_manage::c331_calc_PixelCLK()
{
    for (int64_t pixels : {FRAME_PIXELS, FRAME_PIXELS / 2}) {
        debugPrint("\n line lengths dividing %lld:\n", static_cast<long long>(pixels));
        for (int64_t htt = 100; htt < 17408; ++htt)
            if (pixels % htt == 0)
                debugPrint(" %lld x %lld\n", static_cast<long long>(htt), static_cast<long long>(pixels / htt));
    }
}

void c331_manage::zemApi_SetOutBkg()
{
    for (int c = 0; c < OCH_NUM; ++c) {
        c331drv->write_C331(c331_fd, 0x084903, 0, 16 * c);
        c331drv->write_C331(c331_fd, 0x084801, 1, 16 * c);
    }
}
