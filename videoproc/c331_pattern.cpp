// Test patterns and input background: the pattern generator and the
// background plane of the output channels.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/zemrampara.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int OCH_BANK_STEP = 16;
constexpr int PATTERNS = 20;
constexpr int WIDE_ABOVE = 2048;

// Pattern generator registers of output channel 0 (channel c: 16 c banks on).
enum Gen { TYPE, C58, C59, C5A, CTRL, C5D, PAR1, PAR2, RED, GREEN, BLUE, C66, C67, C68, GEN_COUNT };
constexpr uint32_t GEN_REG[GEN_COUNT] = {
    C331_REG(0x08, 0x57, 1), C331_REG(0x08, 0x58, 1), C331_REG(0x08, 0x59, 1), C331_REG(0x08, 0x5A, 1),
    C331_REG(0x08, 0x5B, 2), C331_REG(0x08, 0x5D, 2), C331_REG(0x08, 0x5F, 2), C331_REG(0x08, 0x61, 2),
    C331_REG(0x08, 0x63, 1), C331_REG(0x08, 0x64, 1), C331_REG(0x08, 0x65, 1), C331_REG(0x08, 0x66, 1),
    C331_REG(0x08, 0x67, 1), C331_REG(0x08, 0x68, 1),
};

// Write orders: the flat colours (patterns 1 to 5) start the generator after
// its control word, the others write the type first.
const Gen FLAT_ORDER[] = {C58, C59, C5A, PAR1, PAR2, CTRL, TYPE, RED, GREEN, BLUE, C66, C67, C68};
const Gen TYPE_FIRST_ORDER[] = {TYPE, C58, C59, C5A, CTRL, PAR1, PAR2, RED, GREEN, BLUE, C66, C67, C68};
constexpr int ORDER_LEN = sizeof(FLAT_ORDER) / sizeof(FLAT_ORDER[0]);
constexpr int FLAT_PATTERNS = 5;

// Control word of a wide window (more than 2048 pixels); W in the table.
constexpr uint16_t WIDE_CTRL = 0x8000;
constexpr uint16_t W = 0xFFFF;

struct Pattern {
    bool draws;
    uint16_t v[GEN_COUNT];   // in Gen order; C5D is always 0
};
// Patterns 1 to 20.
const Pattern PATTERN[PATTERNS] = {
    {true, {4, 0, 0, 0, W, 0, 0, 0, 0xFF, 0, 0, 3, 3, 3}},
    {true, {4, 0, 0, 0, W, 0, 0, 0, 0, 0xFF, 0, 3, 3, 3}},
    {true, {4, 0, 0, 0, W, 0, 0, 0, 0, 0, 0xFF, 3, 3, 3}},
    {true, {4, 0, 0, 0, W, 0, 0, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {4, 0, 0, 0, W, 0, 0, 0, 0, 0, 0, 3, 3, 3}},
    {true, {1, 0, 0, 0, 0x8000, 0, 480, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {14, 0, 0, 0, W, 0, 1, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {15, 0, 0, 0, W, 0, 0, 1, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {false, {}},
    {false, {}},
    {true, {8, 0x30, 0, 0, 0x8000, 0, 32, 32, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {5, 0, 0, 0, 0x8000, 0, 240, 270, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {14, 0, 0, 0, 0x8000, 0, 1, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {1, 0, 0, 0, 0x8000, 0, 480, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {3, 0, 1, 0, 0x8000, 0, 0x8FFF, 0, 0, 0x78, 0, 0, 0, 0}},
    {true, {3, 2, 1, 1, 0x8000, 0, 0x8FFF, 0x8FFF, 0, 0x78, 0, 0, 0, 0}},
    {true, {6, 0, 0, 0, 0x8000, 0, 960, 0, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {9, 0, 0, 0, 0x8095, 0, 4, 0x0F00, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {2, 0, 0, 0, 0x8000, 0, 0, 270, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
    {true, {3, 1, 1, 1, 0x8000, 0, 0, 0x4FFF, 0xFF, 0xFF, 0xFF, 3, 3, 3}},
};

// Background plane of output channel 0.
constexpr uint32_t BKG_COLOR = C331_REG(0x08, 0x49, 3);
constexpr uint32_t BKG_ON = C331_REG(0x08, 0x48, 1);
constexpr uint32_t FORCED_COLOR = 0xFF00;

} // namespace

int c331_manage::zemApi_IsPatternGen() { return pattern_on != 0 ? 1 : 0; }

// The output channels that draw window 0.
std::vector<int> c331_manage::pattern_channels() const
{
    const ST_WIN_INFO &w0 = gWininfo[0];
    const int count = w0.och_HCnt * w0.och_VCnt;
    std::vector<int> out;
    for (int i = 0; i < count && i < OCH_NUM; ++i)
        if (w0.ochLst[i] < OCH_NUM)
            out.push_back(w0.ochLst[i]);
    return out;
}

int c331_manage::c331_SetPattern(int n)
{
    std::vector<int> channels = pattern_channels();
    debugPrint("\r\n[c331_SetPattern] pattern:%d,chcnt=%d\r\n", n, static_cast<int>(channels.size()));
    // A pattern is shown on a single window only; switching it off works
    // whatever the windows are, so that input monitoring resumes.
    if (n < 0 || (n != 0 && gMwin.count > 1)) {
        debugPrint("\t wincnt:%d OOR, return fail\r\n", gMwin.count);
        return -1;
    }
    // The channels an earlier pattern was written on are cleared too: after
    // a re-layout some of them no longer draw window 0.
    std::vector<int> cleared = channels;
    for (int c = 0; c < OCH_NUM; ++c)
        if (pattern_och_mask & (1u << c) && std::find(cleared.begin(), cleared.end(), c) == cleared.end())
            cleared.push_back(c);

    set_rtct(c331_fd, 2);
    for (int c : cleared)
        for (uint32_t reg : GEN_REG)
            c331drv->write_C331(c331_fd, reg, 0, OCH_BANK_STEP * c);
    pattern_och_mask = 0;

    if (n == 0) {
        pattern_on = 0;
        pattern_number = 0;
        debugPrint("    turn off pattern\r");
        set_input_bkg2(c331_fd, 0, 0);
    } else {
        const int idx = (n - 1) % PATTERNS;
        debugPrint("    zem pattern Idx:%d \r\n", idx);
        pattern_on = 1;
        pattern_number = n;
        set_input_bkg2(c331_fd, 0, 0);
        const Pattern &p = PATTERN[idx];
        const bool wide = gWininfo[0].w > WIDE_ABOVE;
        const Gen *order = idx < FLAT_PATTERNS ? FLAT_ORDER : TYPE_FIRST_ORDER;
        for (int c : channels) {
            pattern_och_mask = static_cast<uint8_t>(pattern_och_mask | 1u << c);
            for (int k = 0; k < ORDER_LEN && p.draws; ++k) {
                uint32_t v = p.v[order[k]];
                if (v == W)
                    v = wide ? WIDE_CTRL : 0;
                c331drv->write_C331(c331_fd, GEN_REG[order[k]], v, OCH_BANK_STEP * c);
            }
        }
    }
    set_rtct(c331_fd, 1);
    return 0;
}

// The output channels were given out anew. A pattern shown stays on window 0,
// drawn on the channels it has now; with more than one window the chip shows
// none, so the pattern ends (the windows' backgrounds come back) and the
// pattern byte says so.
void c331_manage::pattern_follow_layout()
{
    if (!pattern_on)
        return;
    if (gMwin.count <= 1) {
        c331_SetPattern(pattern_number);
        return;
    }
    const uint8_t seen = para_image()[para::TEST_PATTERN];
    c331_SetPattern(0);
    settle_pattern_byte(seen);
}

// The pattern byte names the pattern shown: in the pass's copy of the image,
// and in the image unless a writer has changed it since it read `seen`.
void c331_manage::settle_pattern_byte(uint8_t seen)
{
    const uint8_t shown = static_cast<uint8_t>(pattern_number);
    ParaLock lock;
    if (m_para_copied)
        m_para[para::TEST_PATTERN] = shown;
    uint8_t *live = ZemRamPara::pInstance()->ram_para;
    if (live[para::TEST_PATTERN] == seen)
        live[para::TEST_PATTERN] = shown;
}

// Background of the channels of window `w`: colour and on/off.
void c331_manage::write_background(int fd, int w, uint32_t state)
{
    const uint32_t color = g_force_bkcolor == 1 ? FORCED_COLOR : 0;
    for (int c = 0; c < OCH_NUM; ++c) {
        if (PM_WIN_NUM[c] != w)
            continue;
        c331drv->write_C331(fd, BKG_COLOR, color, OCH_BANK_STEP * c);
        c331drv->write_C331(fd, BKG_ON, state, OCH_BANK_STEP * c);
    }
}

void c331_manage::set_input_bkg(int fd, int port, int on)
{
    debugPrint("[set_input_bkg] port_%d, onoff:%d\n", port, on);
    set_rtct(fd, 2);
    for (int w = 0; w < WIN_NUM; ++w) {
        if (PM_INPUT[w] != port)
            continue;
        uint32_t state = on || port_state(port) == 0 ? 1 : 0;
        if (PM_WIN_DBD_MODE[w] != 0)
            state = 0;
        if (g_force_bkcolor == 1)
            state = 1;
        write_background(fd, w, state);
    }
    set_rtct(fd, 1);
}

void c331_manage::set_input_bkg2(int fd, int win, int on)
{
    debugPrint("[set_input_bkg2] win_%d, onoff:%d\n", win, on);
    if (win < 0 || win >= WIN_NUM)
        return;
    uint32_t state = on ? 1 : pattern_on ? 0 : port_state(PM_INPUT[win]) == 0 ? 1 : 0;
    if (PM_WIN_DBD_MODE[win] != 0)
        state = 0;
    if (g_force_bkcolor == 1)
        state = 1;
    // A window whose output is blacked out keeps its background on.
    write_background(fd, win, gWininfo[win].outmode & 1 ? 1 : state);
}
