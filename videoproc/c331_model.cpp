// Chip model: system parameters, start values, and the window set built from
// the parameter image.

#include "videoproc/c331_manage.h"

#include "app/para_layout.h"
#include "platform/devices.h"
#include "videoproc/c331_defaults.h"

#include <cstring>

namespace {

const uint32_t MEM_IP_I[8] = {0x65000000, 0x65339000, 0x66EB8800, 0x671F1800,
                              0x68D71000, 0x690AA000, 0x6AC29800, 0x6AF62800};
const uint32_t MEM_IP_P[8] = {0x65717000, 0x65000000, 0x675CF800, 0x66EB8800,
                              0x69488000, 0x68D71000, 0x6B340800, 0x6AC29800};
const uint32_t MEM_MV[4] = {0x65CEA000, 0x67BA2800, 0x69A5B000, 0x6B913800};

} // namespace

void c331_manage::load_system_param()
{
    PS_XTAL = 32000000;
    PS_MEM_CLK = platform::devices::CHIP_MEMORY_CLOCK_HZ;
    PS_MEM_CLK4 = platform::devices::CHIP_MEASURE_CLOCK_HZ;
    PS_ICLK1 = 27000000;
    PS_ICLK2 = 27000000;
    PS_ACTHW = 1920;
    PS_ACTVW = 2160;
    PS_HTOTAL = 2200;
    PS_VTOTAL = 2250;
    PS_HSW = 88;
    PS_HBP = 88;
    PS_VSW = 10;
    PS_VBP = 72;
    PS_VBOTX_MODE = 0;
    PS_VBOTX_LAYOUT = 0;
    const uint8_t idiv[5] = {0, 137, 0, 1, 22};
    const uint8_t odiv[4] = {137, 0, 2, 24};
    std::memcpy(PS_ICLK_DIV, idiv, sizeof(idiv));
    std::memcpy(PS_OCLK_DIV, odiv, sizeof(odiv));
    for (uint32_t k = 0; k < 8; ++k) {
        PS_MEM_SC[k][0] = 0x2000 * k;
        PS_MEM_SC[k][1] = 0x08800000 + 0x2000 * k;
        PS_MEM_SC[k][2] = 0x11000000 + 0x2000 * k;
        PS_MEM_SC[k][3] = 0x19800000 + 0x2000 * k;
        PS_MEM_SC[k][4] = 0x22000000 + 0x2000 * k;
    }
    PS_ICH_MEMVAL = 64;
    for (uint32_t r = 0; r < 5; ++r)
        PS_MEM_REGION[r] = 0x2A800000 + 0x0B280000 * r;
    PS_MEM_DBD = 0x01DC0000;
    PS_INPUT_CHECK = 14;
    for (int c = 0; c < CMOS_NUM; ++c) {
        // Consecutive inputs share two words; the last input wraps round to
        // the first words of the list.
        for (int j = 0; j < 4; ++j) {
            PS_MEM_IP_I[c][j] = MEM_IP_I[(2 * c + j) % 8];
            PS_MEM_IP_P[c][j] = MEM_IP_P[(2 * c + j) % 8];
        }
        PS_MEM_IPYOFF[c] = 207;
        PS_MEM_MV[c] = MEM_MV[c];
        PS_MWI_IP[c] = 35;
    }
    for (int k = 0; k < 6; ++k) {
        PS_MEM_FLAG[k] = 1;
        PS_MEM_WORD[k] = 0;
    }
    PS_SFL_ADDR = 0x70000000;
    PS_MEM_OSD = 0x725C0000;
    PS_MEM_OSD1 = 0x74B80000;
    PS_FONT_ADDR = 0x7F000000;
}

void c331_manage::define_param()
{
    PS_OAOIHST = PS_HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + PS_ACTHW;
    PS_OAOIVST = PS_VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + PS_ACTVW;
    PS_ACTHST = PS_OAOIHST;
    PS_ACTVST = PS_OAOIVST;

    int across, down;
    if (PS_VBOTX_MODE == 0) {
        across = PS_VBOTX_LAYOUT == 0 ? 4 : 2;
        down = PS_VBOTX_LAYOUT == 0 ? 1 : 2;
    } else if (PS_VBOTX_MODE == 2) {
        across = PS_VBOTX_LAYOUT == 0 ? 2 : 1;
        down = PS_VBOTX_LAYOUT == 0 ? 1 : 2;
    } else {
        across = PS_VBOTX_LAYOUT == 0 ? 8 : 4;
        down = PS_VBOTX_LAYOUT == 0 ? 1 : 2;
    }
    PS_PANEL_HSHAPE = across;
    PS_PANEL_VSHAPE = down;
    PS_PANEL_HW = across * PS_ACTHW;
    PS_PANEL_VW = down * PS_ACTVW;

    for (int w = 0; w < WIN_NUM; ++w) {
        PM_INPUT[w] = -1;
        PM_WIN_STITCHING[w] = w;
        PM_INPUT_OFFSET_EN[w] = 0;
        std::memset(PM_INPUT_OFFSET[w], 0, sizeof(PM_INPUT_OFFSET[w]));
        std::memset(PM_WIN_SHAPE[w], 0, sizeof(PM_WIN_SHAPE[w]));
        std::memset(PM_WIN_OFFSET[w], 0, sizeof(PM_WIN_OFFSET[w]));
        PM_WIN_DBD_MODE[w] = 0;
        PM_WIN_FADE_EN[w] = 0;
        PM_WIN_FADE_IN[w] = 0;
        PM_WIN_FADE_OUT[w] = 0;
        PM_OVERLAY_PRI[w] = 0;
        PM_IACTHST[w] = 0;
        PM_IACTVST[w] = 0;
        PM_MEM_WMODE[w] = 0;
        g_chg_win[w] = g_chg_input[w] = g_chg_dbd[w] = g_chg_attr[w] = 0;
        win_update_level[w] = 0;
        std::memcpy(win_buf_idx[w], c331_defaults::BUF_RING, sizeof(win_buf_idx[w]));
        win_frozen[w] = 0;
        och_mark[w] = 1;
        for (int k = 0; k < ICH_NUM; ++k)
            win_ich[w][k] = win_ich_prev[w][k] = -1;
    }
    for (int c = 0; c < OCH_NUM; ++c) {
        PM_WIN_NUM[c] = PM_WIN_NUM_prev[c] = 6;
        PM_AREA_NUM[c] = 8;
        PM_OVERLAY[c] = c + 1;
        och_owner[c] = 255;
        och_duplicate[c] = 255;
    }
    for (int k = 0; k < ICH_NUM; ++k)
        ich_owner[k] = -1;
    g_chg_overlay = 0;
    g_chg_stitching = 0;
}

void c331_manage::load_param()
{
    using namespace c331_defaults;
    const int32_t *t = parameters_txt;
    // Copies one per-window value, flagging the window when it changes.
    auto win = [this](int32_t &field, int32_t v, int w) {
        if (field != v)
            g_chg_win[w] = 1;
        field = v;
    };
    auto och = [this](int32_t &field, int32_t v) {
        if (field != v)
            g_chg_overlay = 1;
        field = v;
    };
    for (int w = 0; w < WIN_NUM; ++w) {
        win(PM_WIN_SHAPE[w][0], t[PT_SHAPE + 2 * w], w);
        win(PM_WIN_SHAPE[w][1], t[PT_SHAPE + 2 * w + 1], w);
        win(PM_INPUT[w], t[PT_INPUT + w], w);
        for (int j = 0; j < 4; ++j) {
            win(PM_WIN_OFFSET[w][j], t[PT_WIN_OFFSET + 4 * w + j], w);
            win(PM_INPUT_OFFSET[w][j], t[PT_CROP_OFFSET + 4 * w + j], w);
        }
        win(PM_WIN_FADE_IN[w], t[PT_FADE_IN + w], w);
        win(PM_WIN_FADE_OUT[w], t[PT_FADE_OUT + w], w);
        win(PM_WIN_FADE_EN[w], t[PT_FADE_EN + w], w);
        if (PM_WIN_DBD_MODE[w] != t[PT_DBD_MODE + w])
            g_chg_dbd[w] = 1;
        win(PM_WIN_DBD_MODE[w], t[PT_DBD_MODE + w], w);
        if (PM_WIN_STITCHING[w] != t[PT_STITCHING + w])
            g_chg_stitching = 1;
        win(PM_WIN_STITCHING[w], t[PT_STITCHING + w], w);
        win(PS_MEM_WMODE[w], t[PT_MEM_WMODE + w], w);
        win(PM_IACTHST[w], t[PT_IACTHST + w], w);
        win(PM_IACTVST[w], t[PT_IACTVST + w], w);
        win(PM_INPUT_OFFSET_EN[w], t[PT_CROP_EN + w], w);
        och(PM_OVERLAY_PRI[w], t[PT_OVERLAY_PRI + w]);
    }
    for (int c = 0; c < OCH_NUM; ++c) {
        och(PM_WIN_NUM[c], t[PT_WIN_NUM + c]);
        och(PM_AREA_NUM[c], t[PT_AREA_NUM + c]);
        och(PM_OVERLAY[c], t[PT_OVERLAY + c]);
    }
    for (int k = 0; k < ICH_NUM; ++k)
        ich_owner[k] = t[PT_ICH_OWNER + k];
    PM_OSD_SCROLL_SPEED = t[PT_OSD_SCROLL_SPEED];
    PM_OSD_SCROLL_MODE = t[PT_OSD_SCROLL_MODE];
}

// The freeze of image window i (bit 1) as a re-layout takes it: as last
// applied while the output word's freeze bit stands as it was, so that a
// freeze refused for want of a signal stays refused; a bit that changed with
// the re-layout, or of a window that had no slot, as c331_SetWinOutput
// decides it: stored only when the window's source has a signal.
uint8_t c331_manage::kept_freeze(uint32_t i, uint16_t out, uint8_t applied, uint8_t source)
{
    const bool changed = (out ^ snapshot_word(para::window(i, para::WIN_FLAGS))) & 2;
    if (win_slot[i] >= 0 && !changed)
        return applied;
    return (out & 2) && !port_nosignal(zemApi_inputCvtC331(source)) ? 2 : 0;
}

void c331_manage::zemApi_initEnvC331()
{
    const uint8_t *img = para_image();
    int wincnt = 0;
    for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i)
        wincnt += para::get16(img, para::window(i, para::WIN_ENABLE)) != 0;
    if (wincnt == 0) {
        zemApi_initEnvC331Default();
        return;
    }

    // The freeze each image window has as last applied, before the slots
    // are filled anew.
    uint8_t applied_freeze[WIN_NUM] = {};
    for (int i = 0; i < WIN_NUM; ++i)
        if (win_slot[i] >= 0 && win_slot[i] < WIN_NUM)
            applied_freeze[i] = gWininfo[win_slot[i]].outmode & 2;

    gMwin.count = wincnt;
    gMwin.pwin = gMwinRect;
    int32_t slot_of[WIN_NUM] = {-1, -1, -1, -1, -1, -1};
    int n = 0;
    for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i) {
        uint16_t en = para::get16(img, para::window(i, para::WIN_ENABLE));
        if (en == 0)
            continue;
        ST_WIN_INFO &wi = gWininfo[n];
        uint8_t oldRotate = wi.rotate;
        wi.winEn = en & 0xFF;
        wi.rotate = para::get16(img, para::window(i, para::WIN_MIRROR)) & 0xFF;
        uint16_t src = para::get16(img, para::window(i, para::WIN_SOURCE));
        if (src & para::WIN_SOURCE_CROP) {
            // A crop index beyond the table (the PC tool can write any) names
            // no crop: the window is unusable and the set falls back.
            if ((src & 0xFF) >= para::CROP_ENTRIES) {
                zemApi_initEnvC331Default();
                return;
            }
            wi.crop = src & 0xFF;
            // A crop entry whose source byte names no input is no crop.
            const uint8_t source = img[para::crop_record(wi.crop)];
            PM_INPUT_OFFSET_EN[n] = source < PORT_NUM ? 1 : 0;
            wi.input = source & 0x07;
        } else {
            wi.input = src & 0x07;
            PM_INPUT_OFFSET_EN[n] = 0;
        }
        wi.x = para::get16(img, para::window(i, para::WIN_X)) + gPanel.xoffs;
        wi.y = para::get16(img, para::window(i, para::WIN_Y)) + gPanel.yoffs;
        wi.w = para::get16(img, para::window(i, para::WIN_W));
        wi.h = para::get16(img, para::window(i, para::WIN_H));
        gMwinRect[n] = ST_RECT{wi.x, wi.y, wi.w, wi.h};
        uint16_t out = para::get16(img, para::window(i, para::WIN_FLAGS));
        wi.outmode = static_cast<uint8_t>((out & 1) | kept_freeze(i, out, applied_freeze[i], wi.input));
        PM_WIN_FADE_EN[n] = (out >> 2) & 1;
        const uint16_t modeWord = para::get16(img, para::window(i, para::WIN_P2P_MODE));
        int32_t dbd = (out & para::WIN_FLAG_P2P) ? dbd_mode_of(modeWord) : 0;
        if (dbd != PM_WIN_DBD_MODE[n])
            g_chg_dbd[n] = 1;
        PM_WIN_DBD_MODE[n] = dbd;
        wi.layer = para::get16(img, para::layer_priority(i)) % 6;
        PM_WIN_FADE_IN[n] = para::get16(img, para::fade_in(i));
        PM_WIN_FADE_OUT[n] = para::get16(img, para::fade_out(i));
        if (wi.rotate != oldRotate)
            g_chg_attr[n] = 1;

        bool unusable = wi.x + wi.w > gPanel.och.width * gPanel.och_HCnt ||
                        wi.y + wi.h > gPanel.och.height * gPanel.och_VCnt ||
                        wi.input > 5 || gWininfo[0].winEn == 0 || wi.rotate > 3;
        if (unusable) {
            zemApi_initEnvC331Default();
            return;
        }
        slot_of[i] = n;
        ++n;
    }

    // Layers stay unique: a layer already taken moves to the lowest free one.
    bool used[WIN_NUM] = {};
    for (int s = 0; s < n; ++s) {
        uint8_t &layer = gWininfo[s].layer;
        if (used[layer]) {
            for (int l = 0; l < WIN_NUM; ++l)
                if (!used[l]) {
                    layer = static_cast<uint8_t>(l);
                    break;
                }
        }
        used[layer] = true;
    }

    // Mirror flags are kept per slot, as the window code reads them.
    for (int s = 0; s < WIN_NUM; ++s) {
        uint8_t rot = s < n ? (gWininfo[s].rotate & 3) : 0;
        if (s < n)
            gWininfo[s].rotate = rot;
        win_hmirror[s] = rot & 1;
        win_vmirror[s] = (rot >> 1) & 1;
        win_out_update[s] = 1;
    }
    std::memcpy(win_slot, slot_of, sizeof(win_slot));
}
