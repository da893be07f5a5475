// Input ports and input monitoring: the source, port and receiver maps, the
// copy of the receivers' timing records, the chip's own input measurement,
// and the port set-up that follows a change or a loss of signal.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"
#include "videoio/tarixsource.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace {

// Source s is received by receiver s and reaches chip port PORT_OF_SOURCE[s];
// the wiring is symmetric, so the same table gives the receiver of a port.
constexpr int PORT_OF_SOURCE[6] = {3, 2, 1, 0, 5, 4};
constexpr int HDMI_PORTS = 4;
constexpr int NO_PORT = 6;
constexpr int INVALID_PORT = 255;

constexpr uint32_t MEASURE_HOLD = C331_REG(0x00, 0x29, 1);

constexpr uint32_t PICT_PACKING = C331_REG(0x00, 0x18, 2);   // bit 4p: port p two pixels per clock
constexpr uint32_t HDMI_SYNC_POL = C331_REG(0x06, 0x38, 4);  // byte p: port p
constexpr uint32_t VBO_SYNC_POL = C331_REG(0x06, 0x3C, 4);   // half k: V-by-One receiver k
constexpr uint32_t VBO_LANE_SEL = C331_REG(0x00, 0x39, 2);   // byte k: receiver k
constexpr uint32_t VBO_LOCK = C331_REG(0xB2, 0x63, 1);       // bit 5 + 2k: receiver k locked
constexpr uint32_t VBO_RX_RESET = C331_REG(0x02, 0x7F, 1);
constexpr uint32_t VBO_RX_ALL = 0x0F;

// Per V-by-One receiver k, 0x1C sub-addresses apart.
constexpr uint32_t vbo_rx_reg(uint32_t sub, int k) { return C331_REG(0x02, sub + 0x1C * k, 1); }
constexpr uint32_t VBO_RX_MODE = 0x40;     // 5 = receive
constexpr uint32_t VBO_RX_FRANGE = 0x4C;   // bit 3: low frequency range
constexpr uint32_t VBO_RX_LANES = 0x4F;    // lane mask
constexpr uint32_t FRANGE_LOW = 0x08;
constexpr float FRANGE_LOW_BELOW_HZ = 50000000.0f;
constexpr int FRANGE_POLLS = 250;

// Measurement values, in reading order.
enum Measured { M_HTOTAL, M_VTOTAL, M_FHW, M_FVM, M_ACTHW, M_COUNT };

// Where the measurement unit keeps a value: HDMI port p at hdmi + hdmiStep
// * p, V-by-One receiver k at vbo + vboStep * k. Counters marked plusOne
// hold the count minus one.
struct MeasureReg {
    uint8_t bank, hdmi, hdmiStep, vbo, vboStep, width;
    bool plusOne;
};
const MeasureReg MEASURE[M_COUNT] = {
    {0xAE, 0x08, 2, 0x10, 8, 2, true},    // HTOTAL
    {0xAE, 0x20, 2, 0x28, 8, 2, false},   // VTOTAL
    {0xAE, 0x38, 2, 0x40, 8, 2, true},    // FHW
    {0xAE, 0x50, 3, 0x5C, 12, 3, true},   // FVM
    {0xAF, 0x08, 2, 0x10, 8, 2, false},   // ACTHW
};
// A V-by-One receiver's lock sub-channel i: its FHW and FVM a step further on.
constexpr int LOCK_SUBCHANNELS = 4;
constexpr uint8_t SUB_FHW_STEP = 2, SUB_FVM_STEP = 3;

constexpr int32_t MAX16 = 65534;
constexpr int32_t MAX24 = 16777214;
constexpr int32_t VBO_FVM_UNLOCKED = 0xFFFFFF;

// Change tolerances between two measurements of an unchanged input.
constexpr int32_t TOTAL_SLACK = 2;
constexpr int32_t PERIOD_SLACK = 100;

// V-by-One inputs the chip takes at STATE 4.
constexpr int32_t VBO_NARROW_MAX = 2176;
constexpr float VBO_CLOCK_MAX = 324000000.0f;

// Active rectangle of a port without signal.
constexpr ST_ACT NO_SIGNAL_ACT = {16, 0, 16, 0};

// Bits of a port's signal word.
constexpr uint32_t SIG_WATCHED = 0x80;
constexpr uint32_t SIG_NONE = 0x01;
// The no-signal watch prints what it decides (built-in print switch).
constexpr bool PRINT_NOSIGNAL = true;

struct Measure {
    int32_t v[M_COUNT];
};

bool valid_port(int p) { return p >= 0 && p < c331_manage::PORT_NUM; }
bool is_vbo(int p) { return p >= HDMI_PORTS && p < c331_manage::PORT_NUM; }
bool in_range(int32_t v, int32_t hi) { return v >= 2 && v <= hi; }

bool plausible(const Measure &m)
{
    return in_range(m.v[M_HTOTAL], MAX16) && in_range(m.v[M_FHW], MAX16) && in_range(m.v[M_FVM], MAX24);
}

uint32_t measure_reg(int what, int port, uint8_t extra = 0)
{
    const MeasureReg &r = MEASURE[what];
    const uint32_t sub = port < HDMI_PORTS ? r.hdmi + r.hdmiStep * port : r.vbo + r.vboStep * (port - HDMI_PORTS);
    return C331_REG(r.bank, sub + extra, r.width);
}

int32_t read_measure(c331_drv &drv, int fd, int what, int port, uint8_t extra = 0)
{
    return static_cast<int32_t>(drv.read_C331(fd, measure_reg(what, port, extra), 0)) + (MEASURE[what].plusOne ? 1 : 0);
}

Measure measure_port(c331_manage &chip, int fd, int port)
{
    Measure m;
    chip.measure_hold(fd, true);
    for (int what = 0; what < M_COUNT; ++what)
        m.v[what] = read_measure(*chip.c331drv, fd, what, port);
    chip.measure_hold(fd, false);
    return m;
}

uint8_t lane_mask(int32_t lane)
{
    switch (lane) {
    case 8: return 0xFF;
    case 4: return 0xF0;
    case 2: return 0xC0;
    default: return 0x80;
    }
}

// Lock sub-channels a V-by-One link of `lane` lanes uses.
int lock_subchannels(int32_t lane)
{
    return lane == 8 ? 4 : lane == 4 ? 2 : 1;
}

// The timing words of a receiver record (everything but `stable`), in the
// chip model's copy.
bool same_timing(const ST_HDMI_INFO &a, const hdminfo &b)
{
    return a.Hact == b.Hact && a.Hsync == b.Hsync && a.Hback == b.Hback && a.Hpol == b.Hpol &&
           a.Htotal == b.Htotal && a.Vact == b.Vact && a.Vsync == b.Vsync && a.Vback == b.Vback &&
           a.Vpol == b.Vpol && a.Vtotal == b.Vtotal && a.pfreq == b.pfreq && a.type == b.type &&
           a.lane == b.lane && a.ip == b.ip && a.datamode == b.datamode && a.nosignal == b.nosignal;
}

void copy_timing(ST_HDMI_INFO &a, const hdminfo &b)
{
    const int32_t stable = a.stable;
    a = ST_HDMI_INFO{b.Hact, b.Hsync, b.Hback, b.Hpol, b.Htotal, b.Vact, b.Vsync, b.Vback, b.Vpol, b.Vtotal,
                     b.pfreq, b.type, b.datamode, b.lane, b.ip, b.nosignal, stable};
}

// The receivers' records, read under their lock.
void read_records(hdminfo out[c331_manage::PORT_NUM], c331_manage &m)
{
    std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
    tarixsource *src = tarixsource::p_tarix_source;
    for (int p = 0; p < c331_manage::PORT_NUM; ++p)
        out[p] = src ? src->source_hdminfo[m.zemApi_GetPortDevId(p)] : hdminfo{};
}

// STATE and interlace flag of an HDMI port.
void hdmi_state(const ST_HDMI_INFO &h, double fv, int32_t &state, int32_t &ip)
{
    ip = 0;
    state = h.datamode ? 3 : 4;
    if (!h.ip)
        return;
    if (h.Vtotal >= 560 && h.Vtotal <= 565)
        state = fv >= 55.0 ? 5 : 6;
    else if (h.Vtotal >= 260 && h.Vtotal <= 265)
        state = 7;
    else if (h.Vtotal >= 266 && h.Vtotal <= 350)
        state = 8;
    else
        return;
    ip = 1;
}

} // namespace

// ---- maps ----

int c331_manage::zemApi_inputCvtC331(int source)
{
    return source >= 0 && source < 6 ? PORT_OF_SOURCE[source] : INVALID_PORT;
}

int c331_manage::zemApi_GetPortDevId(int port)
{
    return valid_port(port) ? PORT_OF_SOURCE[port] : 3;
}

// Ports of a window that shows several ports side by side; 1 with the list
// filled (6 = none), 0 for a single-port window.
int c331_manage::zemApi_GetWinDbdMultiPort(int win, int *list)
{
    for (int k = 0; k < 6; ++k)
        list[k] = NO_PORT;
    if (win < 0 || win >= WIN_NUM)
        return 0;
    switch (PM_WIN_DBD_MODE[win]) {
    case 20: case 21: list[0] = 0; list[1] = 1; return 1;
    case 22: case 23: list[0] = 2; list[1] = 3; return 1;
    case 30: list[0] = 0; list[1] = 1; list[2] = 2; return 1;
    case 40: case 41: list[0] = 0; list[1] = 1; list[2] = 2; list[3] = 3; return 1;
    case 50: case 51: list[0] = 5; list[1] = 4; return 1;
    default: return 0;
    }
}

int c331_manage::zemApi_IsWinValid(int w) { return w >= 0 && w < WIN_NUM ? 1 : 0; }

bool c331_manage::input_check_due()
{
    const auto now = std::chrono::steady_clock::now();
    if (!inputs_changed_request.exchange(false) && now - last_input_check < std::chrono::milliseconds(input_poll_ms))
        return false;
    last_input_check = now;
    return true;
}

// ---- receiver records ----

void c331_manage::load_hdmi()
{
    hdminfo rec[PORT_NUM];
    read_records(rec, *this);
    for (int p = 0; p < PORT_NUM; ++p) {
        if (!rec[p].stable || same_timing(PI_HDMI_INFO[p], rec[p]))
            continue;
        copy_timing(PI_HDMI_INFO[p], rec[p]);
        for (int w = 0; w < WIN_NUM; ++w) {
            int list[6];
            if (zemApi_GetWinDbdMultiPort(w, list) && std::find(list, list + 6, p) != list + 6) {
                g_chg_input[w] = 1;
                set_ichsel(c331_fd, w);
            } else if (PM_INPUT[w] == p) {
                g_chg_input[w] = 1;
            }
        }
    }
}

// ---- no-signal watch ----

void c331_manage::check_port_valid(int fd)
{
    for (int w = 0; w < WIN_NUM; ++w) {
        int list[6];
        if (!zemApi_GetWinDbdMultiPort(w, list))
            list[0] = PM_INPUT[w];
        for (int i = 0; i < 6 && list[i] != NO_PORT; ++i) {
            const int p = list[i];
            if (!valid_port(p))
                break;
            {
                std::lock_guard<std::mutex> lock(Utils::_check_nosig_mutex);
                if (!(PI_NOSIG[p] & SIG_WATCHED))
                    continue;
            }
            const bool ok = plausible(measure_port(*this, fd, p));
            uint32_t word;
            {
                std::lock_guard<std::mutex> lock(Utils::_check_nosig_mutex);
                PI_NOSIG[p] = ok ? PI_NOSIG[p] & ~SIG_NONE : PI_NOSIG[p] | SIG_NONE;
                word = PI_NOSIG[p];
            }
            if (!ok && is_vbo(p)) {
                vbo_rx_rearm(fd, p - HDMI_PORTS, lane_mask(0));
                set_VBORXfrange(fd, p - HDMI_PORTS, 0, 1);
            }
            if (PRINT_NOSIGNAL)
                debugPrint("[c331_check_nosignal] win_%d port_%d, nosignal:%02x\n", w, p, word);
        }
    }
}

// ---- input monitoring ----

void c331_manage::check_input_port(int fd)
{
    hdminfo rec[PORT_NUM];
    read_records(rec, *this);
    for (int p = 0; p < PORT_NUM; ++p) {
        int w = 0;
        while (w < WIN_NUM && !window_shows_port(w, p))
            ++w;
        if (w == WIN_NUM || !rec[p].stable)
            continue;

        PI_UPDATE[p] = 0;
        const ST_PORT_INFO old = PI_PORT_INFO[p];
        const Measure m = measure_port(*this, fd, p);
        ST_PORT_INFO &info = PI_PORT_INFO[p];
        info.HTOTAL = m.v[M_HTOTAL];
        info.VTOTAL = m.v[M_VTOTAL];
        info.FHW = m.v[M_FHW];
        info.FVM = m.v[M_FVM];
        info.ACTHW = m.v[M_ACTHW];

        if (!plausible(m) || PI_HDMI_INFO[p].nosignal == 1) {
            info.NOSIG = 1;
            port_lost(fd, p, old.NOSIG == 1);
            continue;
        }
        info.NOSIG = 0;

        const bool unchanged = std::abs(info.HTOTAL - old.HTOTAL) <= TOTAL_SLACK &&
                               std::abs(info.VTOTAL - old.VTOTAL) <= TOTAL_SLACK &&
                               std::abs(info.FHW - old.FHW) <= PERIOD_SLACK &&
                               std::abs(info.FVM - old.FVM) <= PERIOD_SLACK && info.ACTHW == old.ACTHW &&
                               g_chg_hdmi[p] == 0;
        if (!unchanged || g_chg_input[w])
            port_update(fd, p);

        // A V-by-One receiver that has lost its lanes is armed again; the
        // crop still follows a timing taken in this pass.
        if (is_vbo(p) && !vbo_locked(fd, p - HDMI_PORTS))
            vbo_rx_rearm(fd, p - HDMI_PORTS, lane_mask(PI_HDMI_INFO[p].lane));

        if (!PI_UPDATE[p])
            continue;
        debugPrint("PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d\n", p, info.STATE, info.IP,
                   info.HTOTAL, info.VTOTAL);
        debugPrint("    was  HTOTAL=%4d  VTOTAL=%4d  FHW=%d  FVM=%d  ACTHW=%d\n", old.HTOTAL, old.VTOTAL, old.FHW,
                   old.FVM, old.ACTHW);
        zemApi_updateCrop(p);
    }
}

// Takes the new timing of port p into the model and sets the port up for it.
void c331_manage::port_update(int fd, int p)
{
    const ST_HDMI_INFO &h = PI_HDMI_INFO[p];
    ST_PORT_INFO &info = PI_PORT_INFO[p];
    const float fv = static_cast<float>(PS_MEM_CLK4) / static_cast<float>(info.FVM);
    const float clock = static_cast<float>(h.Htotal) * fv * static_cast<float>(h.Vtotal);
    PI_FV[p] = fv;
    PI_FH[p] = fv * static_cast<float>(h.Vtotal);
    PI_FPICLK[p] = clock;

    int32_t state, ip = 0;
    if (is_vbo(p)) {
        const int k = p - HDMI_PORTS;
        // A record without a lane count is taken as one lane.
        const float per_lane = h.lane > 0 ? clock / static_cast<float>(h.lane) : clock;
        vbo_rx_rearm(fd, k, lane_mask(h.lane));
        set_VBORXfrange(fd, k, per_lane, 0);
        set_VBOInput(fd, k);
        state = h.Hact <= VBO_NARROW_MAX && clock <= VBO_CLOCK_MAX && h.lane < 4 ? 4 : 1;
    } else {
        set_pict(fd, h.datamode, p);
        set_sypol(fd, 0, p);
        hdmi_state(h, fv, state, ip);
    }
    PI_STATE[p] = state;
    info.STATE = state;
    info.IP = ip;
    // The window pipeline reads the port's scan mode: an interlaced input's
    // fields are woven into frames, and its crop counts frame lines.
    PI_SCAN_MODE[p] = ip;
    info.lane = h.lane;

    const ST_ACT full = {h.Hsync + h.Hback, h.Hact, h.Vsync + h.Vback, h.Vact};
    PI_ACT_FULL[p] = full;
    PI_ACT[p] = full;
    if (state < 4) {
        PI_ACT[p].hst /= 2;
        PI_ACT[p].hw /= 2;
    }
    PI_UPDATE[p] = 1;
}

// Port p has no signal; `already` when it had none before this pass.
void c331_manage::port_lost(int fd, int p, bool already)
{
    if (!already) {
        set_input_bkg(fd, p, 1);
        if (PI_STATE[p] != 0)
            PI_UPDATE[p] = 1;
        ST_PORT_INFO &info = PI_PORT_INFO[p];
        info.HTOTAL = info.VTOTAL = 0;
        info.STATE = info.IP = 0;
        PI_SCAN_MODE[p] = 0;
        PI_FPICLK[p] = PI_FH[p] = PI_FV[p] = 0;
        PI_STATE[p] = 0;
        PI_ACT[p] = NO_SIGNAL_ACT;
        PI_ACT_FULL[p] = NO_SIGNAL_ACT;
    }
    if (is_vbo(p)) {
        vbo_rx_rearm(fd, p - HDMI_PORTS, lane_mask(0));
        set_VBORXfrange(fd, p - HDMI_PORTS, 0, 1);
    } else if (!already) {
        set_pict(fd, 0, p);
    }
}

// Whether the lock sub-channels that receiver k's lanes use all measure.
bool c331_manage::vbo_locked(int fd, int k)
{
    const int port = HDMI_PORTS + k;
    bool ok[LOCK_SUBCHANNELS];
    measure_hold(fd, true);
    for (int i = 0; i < LOCK_SUBCHANNELS; ++i) {
        const int32_t fhw = read_measure(*c331drv, fd, M_FHW, port, static_cast<uint8_t>(SUB_FHW_STEP * i));
        const int32_t fvm = read_measure(*c331drv, fd, M_FVM, port, static_cast<uint8_t>(SUB_FVM_STEP * i));
        ok[i] = in_range(fhw, MAX16) && in_range(fvm, MAX24);
    }
    measure_hold(fd, false);
    for (int i = 0; i < lock_subchannels(PI_HDMI_INFO[port].lane); ++i)
        if (!ok[i])
            return false;
    return true;
}

void c331_manage::measure_hold(int fd, bool hold)
{
    c331drv->write_C331(fd, MEASURE_HOLD, hold ? 0x80 : 0x00, 0);
}

// ---- source of a window ----

void c331_manage::c331_SetInputsource(int win, int source)
{
    if (win < 0 || win >= gMwin.count) {
        debugPrint("    win:%d OOR, wincnt:%d\r\n", win, gMwin.count);
        return;
    }
    const int s = source % 6;
    const int p = zemApi_inputCvtC331(s);
    if (p == INVALID_PORT) {
        debugPrint("    input:%d OOR\r\n", source);
        return;
    }
    gWininfo[win].input = static_cast<uint8_t>(s);
    PM_INPUT[win] = p;
    g_chg_input[win] = 1;
    debugPrint("[c331_SetInputsource] win_%d, port_%d\n", win, p);
    check_input_port(c331_fd);
    set_output(c331_fd);
}

// ---- port set-up ----

void c331_manage::set_pict(int fd, int datamode, int p)
{
    if (p < 0 || p >= HDMI_PORTS)
        return;
    const uint32_t bit = 1u << (4 * p);
    c331drv->write_c331_mask(fd, PICT_PACKING, datamode ? bit : 0, bit, 0);
}

void c331_manage::set_sypol(int fd, int is_vbo_rx, int i)
{
    const int port = is_vbo_rx ? HDMI_PORTS + i : i;
    if (i < 0 || (is_vbo_rx ? i >= PORT_NUM - HDMI_PORTS : i >= HDMI_PORTS))
        return;
    // Polarity words other than 0 and 1 keep only their lowest bit.
    const uint32_t pol = (PI_HDMI_INFO[port].Vpol & 1) | (PI_HDMI_INFO[port].Hpol & 1) << 1;
    const uint32_t reg = is_vbo_rx ? VBO_SYNC_POL : HDMI_SYNC_POL;
    measure_hold(fd, true);
    uint32_t word = c331drv->read_C331(fd, reg, 0);
    measure_hold(fd, false);
    if (is_vbo_rx) {
        const uint32_t shift = 16 * i;
        word = (word & ~(0xFFFFu << shift)) | (pol * 0x1111u) << shift;
    } else {
        const uint32_t shift = 8 * i;
        word = (word & ~(0xFFu << shift)) | (pol + 4) << shift;
    }
    c331drv->write_C331(fd, reg, word, 0);
}

void c331_manage::set_VBOInput(int fd, int k)
{
    if (k < 0 || k >= PORT_NUM - HDMI_PORTS)
        return;
    struct LaneSetting {
        int32_t lanes;
        uint32_t mode, select;
    };
    static const LaneSetting settings[] = {{1, 0x0000, 0x00}, {2, 0x0001, 0x10}, {4, 0x0011, 0x04}};
    LaneSetting use = {8, 0x0404, 0x02};
    for (const LaneSetting &s : settings)
        if (PI_HDMI_INFO[HDMI_PORTS + k].lane == s.lanes)
            use = s;
    set_sypol(fd, 1, k);
    c331drv->write_C331(fd, C331_REG(0x00, 0x1E + 2 * k, 2), use.mode, 0);
    c331drv->write_c331_mask(fd, VBO_LANE_SEL, use.select << (8 * k), 0xFFu << (8 * k), 0);
}

void c331_manage::set_VBORXfrange(int fd, int k, float clock, int toggle)
{
    if (k < 0 || k > 1)
        return;
    const uint32_t frange = vbo_rx_reg(VBO_RX_FRANGE, k);
    if (toggle) {
        c331drv->write_C331(fd, frange, c331drv->read_C331(fd, frange, 0) ^ FRANGE_LOW, 0);
        return;
    }
    c331drv->write_c331_mask(fd, frange, clock < FRANGE_LOW_BELOW_HZ ? FRANGE_LOW : 0, FRANGE_LOW, 0);
    // Wait, bounded, for the receiver to lock on its new range.
    const uint32_t locked = 1u << (5 + 2 * k);
    for (int n = 0; n < FRANGE_POLLS; ++n) {
        if (c331drv->read_C331(fd, VBO_LOCK, 0) & locked)
            return;
        if (read_measure(*c331drv, fd, M_FVM, HDMI_PORTS + k) < VBO_FVM_UNLOCKED)
            return;
    }
}

void c331_manage::vbo_rx_rearm(int fd, int k, uint8_t mask)
{
    if (k < 0 || k > 1)
        return;
    const struct {
        uint32_t reg, value;
    } writes[] = {
        {VBO_RX_RESET, VBO_RX_ALL & ~(1u << k)},
        {VBO_RX_RESET, VBO_RX_ALL},
        {vbo_rx_reg(VBO_RX_MODE, k), 5},
        {vbo_rx_reg(VBO_RX_LANES, k), mask},
    };
    for (const auto &w : writes)
        c331drv->write_C331(fd, w.reg, w.value, 0);
}
