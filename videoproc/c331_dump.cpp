// Chip register dumps: how a person in the field sees what the chip was told.
// The model, register groups and the full register listing are printed to
// dump_out (standard output) whatever the debug switch; debug modes 6 to 9
// force a few test settings into the chip.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "app/utils.h"
#include "platform/timing.h"
#include "videoio/ite6805_drv.h"
#include "videoio/tarixsource.h"

#include <iterator>
#include <mutex>

namespace {

constexpr int MODES = 14;
const char *const MODE_NAMES[MODES] = {"c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s",
                                       "c331_PI",    "none",     "none",     "none",     "none",
                                       "none",       "none",     "none",     "none"};

// A register of a group dump: its name and descriptor (channel 0).
struct NamedReg {
    const char *name;
    uint32_t reg;
};

constexpr NamedReg FIELD_REGS[] = {
    {"OSFLD0", 0x160804}, {"OSFLD1", 0x160C04}, {"OSFLD2", 0x161004}, {"OSFLD3", 0x161404}, {"OSFLD4", 0x161804},
    {"ISFLD0", 0x161C04}, {"ISFLD1", 0x162004}, {"ISFLD2", 0x162404}, {"ISFLD3", 0x162804}, {"ISFLD4", 0x162C04},
};
constexpr NamedReg CONTROL_REGS[] = {
    {"OSYCT", 0x080802},
    {"ISYCT", 0x100901},
    {"OMWI", 0x163001},
    {"IMWI", 0x163101},
};
constexpr NamedReg ACTIVE_REGS[] = {
    {"OACT_HST", 0x084002}, {"OACT_HW", 0x084202}, {"OACT_VST", 0x084402}, {"OACT_VW", 0x084602},
    {"IACT_HST", 0x101702}, {"IACT_HW", 0x101902}, {"IACT_VST", 0x101B02}, {"IACT_VW", 0x101D02},
};

// Test settings of debug modes 6 to 9, written channel by channel.
struct DebugWrite {
    int mode;
    uint32_t reg;
    uint32_t value;
};
constexpr DebugWrite DEBUG_WRITES[] = {
    {6, 0x084903, 0xFFFFFF}, {6, 0x084801, 1}, {7, 0x0A4601, 0xC3}, {8, 0x504A01, 1},
    {8, 0x504B03, 0x80FF80}, {9, 0x0A4601, 3}, {9, 0x0A4B01, 3},
};

// The OSD text: each line's UTF-16 units as [high,low] byte pairs, eight to
// a row, up to its first zero unit.
void osd_text(FILE *f, const uint8_t (*text)[2 * c331_manage::OSD_LINE_CHARS], int lines)
{
    for (int i = 0; i < lines && i < c331_manage::OSD_LINES; ++i) {
        std::fprintf(f, "\tline %d:\r\n", i);
        int k = 0;
        for (; k < c331_manage::OSD_LINE_CHARS && (text[i][2 * k] || text[i][2 * k + 1]); ++k) {
            std::fprintf(f, "[%#x,%#x] ", text[i][2 * k], text[i][2 * k + 1]);
            if (k % 8 == 7)
                std::fprintf(f, "\r\n");
        }
        if (k % 8 != 0)
            std::fprintf(f, "\r\n");
    }
}

// One value per line: tab, name, colon, decimal value.
void field(FILE *f, const char *name, long long v) { std::fprintf(f, "\t%s:%lld\r\n", name, v); }
void field(FILE *f, const char *name, int i, long long v) { std::fprintf(f, "\t%s[%d]:%lld\r\n", name, i, v); }
void field(FILE *f, const char *name, int i, int j, long long v)
{
    std::fprintf(f, "\t%s[%d][%d]:%lld\r\n", name, i, j, v);
}
void title(FILE *f, const char *text) { std::fprintf(f, "%s\r\n", text); }

void timing_record(FILE *f, int p, const ST_HDMI_INFO &h)
{
    std::fprintf(f, "\tport %d: Hact:%d Hsync:%d Hback:%d Hpol:%d Htotal:%d Vact:%d Vsync:%d Vback:%d Vpol:%d "
                    "Vtotal:%d pfreq:%.3f type:%d lane:%d ip:%d datamode:%d nosignal:%d\r\n",
                 p, h.Hact, h.Hsync, h.Hback, h.Hpol, h.Htotal, h.Vact, h.Vsync, h.Vback, h.Vpol, h.Vtotal,
                 double(h.pfreq), h.type, h.lane, h.ip, h.datamode, h.nosignal);
}

void rect(FILE *f, const char *name, int w, const _ImageWindowDef_st &r)
{
    std::fprintf(f, "\t%s[%d]: HST:%d HW:%d VST:%d VW:%d\r\n", name, w, r.HST, r.HW, r.VST, r.VW);
}

// Mode 2: window rectangles, memory set-up of the inputs, noise reduction
// flags of the CMOS inputs, V-by-One lanes and the mixers' layer lists.
void print_memory(const c331_manage &m, FILE *f)
{
    for (int w = 0; w < c331_manage::WIN_NUM; ++w) {
        rect(f, "IWIN", w, m.IWIN[w]);
        rect(f, "OWIN", w, m.OWIN[w]);
        field(f, "PM_MEM_WMODE", w, m.PM_MEM_WMODE[w]);
        field(f, "PS_MEM_WMODE", w, m.PS_MEM_WMODE[w]);
        field(f, "PI_SCAN_MODE", w, m.PI_SCAN_MODE[w]);
    }
    for (int p = 0; p < c331_manage::PORT_NUM; ++p) {
        const uint32_t *sc = m.PS_MEM_SC[p];
        std::fprintf(f, "\tport %d: PS_MEM_SC:%08X %08X %08X %08X %08X PM_IACTHST:%d PM_IACTVST:%d "
                        "PI_FPICLK:%.3f PI_FH:%.3f PI_FV:%.3f PI_IFH:%d PI_IFV:%d PI_SYNC_POL:%d\r\n",
                     p + 1, sc[0], sc[1], sc[2], sc[3], sc[4], m.PM_IACTHST[p], m.PM_IACTVST[p], m.PI_FPICLK[p],
                     m.PI_FH[p], m.PI_FV[p], m.PI_IFH[p], m.PI_IFV[p], m.PI_SYNC_POL[p]);
    }
    for (int c = 0; c < c331_manage::CMOS_NUM; ++c) {
        const uint32_t *i = m.PS_MEM_IP_I[c];
        const uint32_t *pp = m.PS_MEM_IP_P[c];
        std::fprintf(f, "\tcmos %d: PS_MEM_SC:%08X PS_MEM_IP_I:%08X %08X %08X %08X PS_MEM_IP_P:%08X %08X %08X %08X "
                        "PS_MEM_IPYOFF:%u PS_MEM_MV:%08X PS_MWI_IP:%u\r\n",
                     c, m.PS_MEM_SC[c][0], i[0], i[1], i[2], i[3], pp[0], pp[1], pp[2], pp[3], m.PS_MEM_IPYOFF[c],
                     m.PS_MEM_MV[c], m.PS_MWI_IP[c]);
        std::fprintf(f, "\tcmos %d: PM_HNR:%d PM_VNR:%d PM_TNR:%d PM_BNR:%d PM_MNR:%d PM_COMB:%d PM_IPEN:%d "
                        "PM_DIAG:%d PM_22PD:%d PM_23PD:%d PM_24SF:%d PM_MVFLT:%d PM_22PDSQTH:%d PM_23PDSQTH:%d\r\n",
                     c, m.PM_HNR[c], m.PM_VNR[c], m.PM_TNR[c], m.PM_BNR[c], m.PM_MNR[c], m.PM_COMB[c], m.PM_IPEN[c],
                     m.PM_DIAG[c], m.PM_22PD[c], m.PM_23PD[c], m.PM_24SF[c], m.PM_MVFLT[c], m.PM_22PDSQTH[c],
                     m.PM_23PDSQTH[c]);
    }
    field(f, "PS_VBO_2LANE", m.PS_VBO_2LANE);
    field(f, "PS_VBO_4LANE", m.PS_VBO_4LANE);
    field(f, "PS_VBO_8LANE", m.PS_VBO_8LANE);
    for (int g = 0; g < c331_manage::OCH_NUM; ++g) {
        std::fprintf(f, "\tg_och_layer[%d]:", g);
        for (int n = 0; n < m.g_och_layer_cnt[g]; ++n)
            std::fprintf(f, " %d", m.g_och_layer[g][n]);
        std::fprintf(f, "\r\n");
    }
    for (int w = 0; w < c331_manage::WIN_NUM; ++w)
        field(f, "PM_OVERLAY_PRI", w, m.PM_OVERLAY_PRI[w]);
}

// Mode 5: what the chip measured on each input port and what the receivers
// reported.
void print_ports(const c331_manage &m, FILE *f)
{
    for (int p = 0; p < c331_manage::PORT_NUM; ++p)
        std::fprintf(f, "\tport %d: PI_UPDATE:%d PI_STATE:%d\r\n", p, m.PI_UPDATE[p], m.PI_STATE[p]);
    for (int p = 0; p < c331_manage::PORT_NUM; ++p) {
        const ST_PORT_INFO &i = m.PI_PORT_INFO[p];
        const ST_HDMI_INFO &h = m.PI_HDMI_INFO[p];
        std::fprintf(f, "\tport %d: PI_PORT_INFO htt:%d vtt:%d hw:%d state:%d nosig:%d laneNum:%d\r\n", p,
                     i.HTOTAL, i.VTOTAL, i.ACTHW, i.STATE, i.NOSIG, i.lane);
        std::fprintf(f, "\tport %d: PI_HDMI_INFO type:%d nosignal:%d hact:%d htt:%d hsync:%d hback:%d vact:%d "
                        "vtt:%d vsync:%d vback:%d\r\n",
                     p, h.type, h.nosignal, h.Hact, h.Htotal, h.Hsync, h.Hback, h.Vact, h.Vtotal, h.Vsync, h.Vback);
    }
    for (int p = 0; p < c331_manage::PORT_NUM; ++p) {
        const ST_ACT &a = m.PI_ACT[p];
        std::fprintf(f, "\tport %d: PI_ACT HST:%d HW:%d VST:%d VW:%d\r\n", p, a.hst, a.hw, a.vst, a.vw);
    }
}

// Modes 6 to 9: test settings on the output channels (mode 9: channels 0
// and 1 only).
void force_debug_settings(c331_manage &m, int mode)
{
    static const char *const DONE[4] = {"\n .................... ", "\n .................... ",
                                        "\n .........input change........... ",
                                        "\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... "};
    const int channels = mode == 9 ? 2 : c331_manage::OCH_NUM;
    for (int c = 0; c < channels; ++c)
        for (const DebugWrite &d : DEBUG_WRITES)
            if (d.mode == mode)
                m.c331drv->write_C331(m.c331_fd, d.reg, d.value, 16 * c);
    debugPrint("%s", DONE[mode - 6]);
}

// Mode 10: the timing records of the V-by-One inputs' receivers (inputs 5
// and 4), each refreshed from its receiver's register copy and then copied
// under the input manager's lock while its thread may be refreshing them.
void print_receivers(FILE *f)
{
    tarixsource *src = tarixsource::p_tarix_source;
    if (!src) {
        std::fprintf(f, "\tno input manager\r\n");
        return;
    }
    for (int input : {5, 4}) {
        ite6805_drv::iTE6805_Get_Hdmi(input - ite6805_drv::FIRST_INPUT);
        hdminfo h;
        {
            std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
            h = src->source_hdminfo[input];
        }
        std::fprintf(f, "[iTE6805_Get_Hdmi] dev_id:%d, idx:%d\r\n", input - 4, input);
        std::fprintf(f, "\tHact:%d Hsync:%d Hback:%d Hpol:%d Htotal:%d Vact:%d Vsync:%d Vback:%d Vpol:%d Vtotal:%d "
                        "PCLK:%.3f TYPE:%d DATAMOD:%d Lanes:%d IP:%d signal:%d\r\n",
                     h.Hact, h.Hsync, h.Hback, h.Hpol, h.Htotal, h.Vact, h.Vsync, h.Vback, h.Vpol, h.Vtotal,
                     double(h.pfreq), h.type, h.datamode, h.lane, h.ip, h.nosignal ? 0 : 1);
    }
}

} // namespace

void c331_manage::c331_print()
{
    if (c331_fd < 0) {
        std::fprintf(dump_out, "[c331_print] the chip is not open\n");
        std::fflush(dump_out);
        return;
    }
    // Bank 4 is read between flash operations: a flash read, program or DMA
    // running on another link is a sequence of its registers.
    std::unique_lock<std::recursive_mutex> flash(bank4_mutex, std::defer_lock);
    for (uint32_t reg : c331_register_list()) {
        const bool bank4 = (reg >> 16) == 4;
        if (bank4 != flash.owns_lock())
            bank4 ? flash.lock() : flash.unlock();
        std::fprintf(dump_out, "%06X  %08Xh\n", reg, c331drv->read_C331(c331_fd, reg, 0));
        platform::pauseUs(1);
    }
    std::fflush(dump_out);
}

void c331_manage::zemDbg_c331_print_regGrp(int grp)
{
    FILE *f = dump_out;
    std::fprintf(f, "\033[1m[%s] grp:%d\033[0m\n", "zemDbg_c331_print_regGrp", grp);
    if (grp != 0) {
        std::fprintf(f, "\t not found valid grp!!!!!!!\n");
        std::fflush(f);
        return;
    }
    std::fprintf(f, "ICH:\n");
    for (int w = 0; w < WIN_NUM; ++w) {
        if (win_ich[w][0] < 0)
            std::fprintf(f, "\twin%d: port %d no ICH\n", w, PM_INPUT[w]);
        else
            std::fprintf(f, "\twin%d: port %d ICH%d\n", w, PM_INPUT[w], win_ich[w][0] + 1);
    }
    std::fprintf(f, "OCH:\n");
    for (int w = 0; w < WIN_NUM; ++w) {
        const ST_WIN_INFO &wi = gWininfo[w];
        const int n = wi.och_HCnt * wi.och_VCnt;
        if (n == 0)
            continue;
        std::fprintf(f, "\twin%d: %d", w, n);
        for (int j = 0; j < n && j < OCH_NUM; ++j)
            std::fprintf(f, " OCH%d", wi.ochLst[j] + 1);
        std::fprintf(f, "\n");
    }
    auto channels = [&](const NamedReg *regs, size_t count, const char *format) {
        for (int c = 0; c < OCH_NUM; ++c) {
            std::fprintf(f, "CH%d:", c + 1);
            for (size_t k = 0; k < count; ++k) {
                std::fprintf(f, " %s=", regs[k].name);
                std::fprintf(f, format, c331drv->read_C331(c331_fd, regs[k].reg, 16 * c));
            }
            std::fprintf(f, "\n");
        }
    };
    channels(FIELD_REGS, std::size(FIELD_REGS), "%08X");
    channels(CONTROL_REGS, std::size(CONTROL_REGS), "%X");
    channels(ACTIVE_REGS, std::size(ACTIVE_REGS), "%04X");
    for (uint32_t k = 1; k <= 8; ++k)
        std::fprintf(f, "%d: ICHSEL=%02X ISCWCT=%02X OSCWCT=%02X\n", k,
                     c331drv->read_C331(c331_fd, C331_REG(0x00, 0x0F + k, 1), 0),
                     c331drv->read_C331(c331_fd, C331_REG(0x00, 0x70 + k, 1), 0),
                     c331drv->read_C331(c331_fd, C331_REG(0x00, 0x68 + k, 1), 0));
    std::fflush(f);
}

void c331_manage::zemDbg_c331_param()
{
    FILE *f = dump_out;
    title(f, "<<===OCH SPEC");
    const std::pair<const char *, int32_t> och[] = {
        {"PS_ACTHW", PS_ACTHW},     {"PS_HSW", PS_HSW},         {"PS_HBP", PS_HBP},
        {"PS_HFP", PS_HFP},         {"PS_HTOTAL", PS_HTOTAL},   {"PS_VTOTAL", PS_VTOTAL},
        {"PS_ACTVW", PS_ACTVW},     {"PS_VSW", PS_VSW},         {"PS_VBP", PS_VBP},
        {"PS_OAOIHST", PS_OAOIHST}, {"PS_OAOIHED", PS_OAOIHED}, {"PS_ACTVST", PS_ACTVST},
        {"PS_OAOIVST", PS_OAOIVST}, {"PS_OAOIVED", PS_OAOIVED}, {"PS_ACTHST", PS_ACTHST},
    };
    for (const auto &v : och)
        field(f, v.first, v.second);
    title(f, "<<===PS VBO");
    field(f, "PS_VBOTX_MODE", PS_VBOTX_MODE);
    field(f, "PS_VBOTX_LAYOUT", PS_VBOTX_LAYOUT);

    title(f, "<<===PM WIN");
    for (int w = 0; w < WIN_NUM; ++w)
        for (int k = 0; k < 2; ++k)
            field(f, "PM_WIN_SHAPE", w, k, PM_WIN_SHAPE[w][k]);
    for (int w = 0; w < WIN_NUM; ++w) {
        field(f, "PM_WIN_FADE_EN", w, PM_WIN_FADE_EN[w]);
        field(f, "PM_WIN_FADE_IN", w, PM_WIN_FADE_IN[w]);
        field(f, "PM_WIN_FADE_OUT", w, PM_WIN_FADE_OUT[w]);
    }
    for (int w = 0; w < WIN_NUM; ++w)
        field(f, "PM_INPUT", w, PM_INPUT[w]);
    for (int w = 0; w < WIN_NUM; ++w)
        for (int k = 0; k < 4; ++k)
            field(f, "PM_WIN_OFFSET", w, k, PM_WIN_OFFSET[w][k]);
    for (int w = 0; w < WIN_NUM; ++w) {
        field(f, "PM_INPUT_OFFSET_EN", w, PM_INPUT_OFFSET_EN[w]);
        for (int k = 0; k < 4; ++k)
            field(f, "PM_INPUT_OFFSET", w, k, PM_INPUT_OFFSET[w][k]);
    }

    title(f, "<<===PM OCH");
    for (int c = 0; c < OCH_NUM; ++c) {
        field(f, "PM_WIN_NUM", c, PM_WIN_NUM[c]);
        field(f, "PM_AREA_NUM", c, PM_AREA_NUM[c]);
    }
    for (int c = 0; c < OCH_NUM; ++c)
        std::fprintf(f, "\tPM_OVERLAY[%d]:0x%X\r\n", c, PM_OVERLAY[c]);

    title(f, "<<===PS PANEL");
    field(f, "PS_PANEL_HW", PS_PANEL_HW);
    field(f, "PS_PANEL_VW", PS_PANEL_VW);
    field(f, "PS_PANEL_HSHAPE", PS_PANEL_HSHAPE);
    field(f, "PS_PANEL_VSHAPE", PS_PANEL_VSHAPE);

    field(f, "OSD_WIN.HST", OSD_WIN.HST);
    field(f, "OSD_WIN.HW", OSD_WIN.HW);
    field(f, "OSD_WIN.VST", OSD_WIN.VST);
    field(f, "OSD_WIN.VW", OSD_WIN.VW);

    title(f, "<<===OSD");
    const std::pair<const char *, long long> osd[] = {
        {"PM_OSD_EN", PM_OSD_EN},
        {"PM_OSD_HZOOM_EN", PM_OSD_HZOOM_EN},
        {"PM_OSD_VZOOM_EN", PM_OSD_VZOOM_EN},
        {"PM_OSD_DATA_MODE", PM_OSD_DATA_MODE},
        {"PM_OSD_UPDATE_BUTTON", PM_OSD_UPDATE_BUTTON},
        {"PM_OSD_SCROLL_MODE", PM_OSD_SCROLL_MODE},
        {"PM_OSD_SCROLL_SPEED", PM_OSD_SCROLL_SPEED},
        {"PM_OSD_CHAR_64DOT", PM_OSD_CHAR_64DOT},
        {"g_osd_mwi", g_osd_mwi},
        {"g_osd_mwi_shift", g_osd_mwi_shift},
        {"g_font_addr_32ASCII", g_font_addr_32ASCII.load()},
        {"g_font_addr_32CHN", g_font_addr_32CHN.load()},
        {"g_font_addr_64ASCII", g_font_addr_64ASCII.load()},
        {"g_font_addr_64CHN", g_font_addr_64CHN.load()},
        {"g_unicode_line", g_unicode_line},
    };
    for (const auto &v : osd)
        field(f, v.first, v.second);
    osd_text(f, g_unicode_str, g_unicode_line);
    const std::pair<const char *, long long> stores[] = {
        {"PS_BMP_ADDR", PS_BMP_ADDR},
        {"PS_BMP_HACT", PS_BMP_HACT},
        {"PS_BMP_VACT", PS_BMP_VACT},
        {"PS_BMPCP_ADDR", PS_BMPCP_ADDR},
        {"PS_BG_HACT", PS_BG_HACT},
        {"PS_BG_VACT", PS_BG_VACT},
        {"PS_BG_COLOR", PS_BG_COLOR},
        {"PS_BG_TRANS", PS_BG_TRANS},
        {"PS_CHAR_HST", PS_CHAR_HST},
        {"PS_CHAR_VST", PS_CHAR_VST},
        {"PS_CHAR_COLOR", PS_CHAR_COLOR},
        {"PS_CHAR_ADDR_32ASCII", PS_CHAR_ADDR_32ASCII},
        {"PS_CHAR_ADDR_32CHN", PS_CHAR_ADDR_32CHN},
        {"PS_CHAR_ADDR_64ASCII", PS_CHAR_ADDR_64ASCII},
        {"PS_CHAR_ADDR_64CHN", PS_CHAR_ADDR_64CHN},
        {"PS_CHAR_SIZE_32ASCII", PS_CHAR_SIZE_32ASCII},
        {"PS_CHAR_SIZE_32CHN", PS_CHAR_SIZE_32CHN},
        {"PS_CHAR_SIZE_64ASCII", PS_CHAR_SIZE_64ASCII},
        {"PS_CHAR_SIZE_64CHN", PS_CHAR_SIZE_64CHN},
    };
    for (const auto &v : stores)
        field(f, v.first, v.second);

    title(f, "<<===PI HDMI INFO");
    for (int p = 0; p < 4; ++p)
        timing_record(f, p, PI_HDMI_INFO[p]);
    std::fflush(f);
}

void c331_manage::zemDbg_c331_param(int mode)
{
    const int m = (mode % MODES + MODES) % MODES;
    FILE *f = dump_out;
    std::fprintf(f, "[zemDbg_c331_param] %s\r\n", MODE_NAMES[m]);
    switch (m) {
    case 0:
        zemDbg_c331_param();
        break;
    case 1:
        for (int p = 0; p < PORT_NUM; ++p) {
            const ST_PORT_INFO &i = PI_PORT_INFO[p];
            const ST_ACT &a = PI_ACT[p];
            std::fprintf(f, "\tport %d: PI_UPDATE:%d PI_STATE:%d PI_HTOTAL:%d PI_VTOTAL:%d PI_ACT:%d,%d,%d,%d "
                            "PI_PORT_INFO htt:%d vtt:%d hw:%d state:%d nosig:%d\r\n",
                         p, PI_UPDATE[p], PI_STATE[p], PI_HTOTAL[p], PI_VTOTAL[p], a.hst, a.hw, a.vst, a.vw,
                         i.HTOTAL, i.VTOTAL, i.ACTHW, i.STATE, i.NOSIG);
        }
        break;
    case 2:
        print_memory(*this, f);
        break;
    case 5:
        print_ports(*this, f);
        break;
    case 6:
    case 7:
    case 8:
    case 9:
        force_debug_settings(*this, m);
        break;
    case 10:
        print_receivers(f);
        break;
    default:
        break;
    }
    std::fflush(f);
}

// Hook run once at bring-up before the running state; nothing to do.
void c331_manage::c331_debugEnv() { note_call("c331_debugEnv()"); }
