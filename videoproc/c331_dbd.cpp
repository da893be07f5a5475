// Dot-by-dot memory and the waits on the inputs.
//
// Memory map of the dot-by-dot area: six blocks of PS_MEM_DBD bytes in each
// of the five regions PS_MEM_REGION (one region per field store, 6 blocks fill
// a region exactly). A window holding blocks b..b+n-1 stores field j at
// PS_MEM_REGION[j] + PS_MEM_DBD * b. A window that fits its first input
// channel's own frame memory uses that channel's five stores (PS_MEM_SC)
// with the chip's line pitch (PS_ICH_MEMVAL), the pitch its output channels
// read them with and the one that keeps its lines clear of the neighbouring
// channels'. Widths are kept in units of 320 pixels.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "platform/timing.h"

namespace {

constexpr int FREE = -1;
constexpr int USED = 1;
constexpr int HDMI_PORTS = 4;
constexpr int WIDTH_UNIT = 320;
constexpr int SLOTS = 4;
constexpr int STORES = 5;

// Inputs wider or taller than a channel's own memory holds.
constexpr int32_t HDMI_MAX_WIDTH = 2560;
constexpr int32_t VBO_MAX_WIDTH = 5120;
constexpr int32_t MAX_HEIGHT = 2176;

// Ports whose widths add up to a dot-by-dot window's width.
struct DbdWidth {
    int32_t mode;
    int count;
    int ports[4];
};
const DbdWidth DBD_WIDTH[] = {
    {20, 2, {0, 1}}, {21, 1, {0}},    {22, 2, {2, 3}},       {23, 1, {2}},     {30, 3, {0, 1, 2}},
    {40, 4, {0, 1, 2, 3}}, {41, 2, {0, 1}}, {50, 2, {4, 5}}, {51, 1, {4}},
};

// Modes that take blocks from the bottom of the area; the others from the top.
bool ascending(int32_t mode)
{
    return mode == 1 || mode == 20 || mode == 22 || mode == 30 || mode == 40 || mode == 50;
}

int32_t units(int32_t width) { return (width + WIDTH_UNIT - 1) / WIDTH_UNIT; }

bool valid_port(int p) { return p >= 0 && p < c331_manage::PORT_NUM; }

constexpr uint32_t VSYNC_ARM = C331_REG(0x05, 0x08, 1);
constexpr uint32_t VSYNC_FLAGS = C331_REG(0x05, 0x22, 1);
constexpr uint32_t ich_status(int ich) { return C331_REG(0xA8, 0x3F + 5 * ich, 1); }
constexpr uint32_t STATUS_GONE = 0xFF;
constexpr int VSYNC_READS = 45;
constexpr int IFIELD_READS = 90;
constexpr int OFIELD_READS = 70;
constexpr unsigned NO_WAIT_MS = 45;
constexpr double SLOWEST_FV_BELOW = 120.0;

} // namespace

int c331_manage::check_dbd_input(int port)
{
    if (!valid_port(port))
        return 0;
    const ST_ACT &a = PI_ACT_FULL[port];
    const int32_t max_width = port < HDMI_PORTS ? HDMI_MAX_WIDTH : VBO_MAX_WIDTH;
    return a.hw > max_width || a.vw > MAX_HEIGHT ? 1 : 0;
}

void c331_manage::reset_dbd_mem(int win)
{
    if (win < 0 || win >= WIN_NUM)
        return;
    for (int32_t &b : win_dbd_block[win]) {
        if (b >= 0 && b < DBD_BLOCKS)
            dbd_block[b] = FREE;
        b = FREE;
    }
}

// The lowest block of a run of `count` free blocks: the lowest such run
// (ascending), or the highest one; -1 when there is none.
int c331_manage::find_dbd_run(int count, bool up) const
{
    for (int i = 0; i <= DBD_BLOCKS - count; ++i) {
        const int first = up ? i : DBD_BLOCKS - count - i;
        bool free = true;
        for (int b = first; b < first + count; ++b)
            free = free && dbd_block[b] == FREE;
        if (free)
            return first;
    }
    return FREE;
}

int c331_manage::set_dbd_mem(int fd, int win)
{
    if (win < 0 || win >= WIN_NUM)
        return -1;
    reset_dbd_mem(win);
    const int32_t mode = PM_WIN_DBD_MODE[win];
    const int ich = win_ich[win][0];
    if (mode == 0 || ich < 0 || ich >= ICH_NUM)
        return -1;
    const int port = PM_INPUT[win];
    if (mode == 1 && !check_dbd_input(port)) {
        for (int j = 0; j < STORES; ++j)
            dbd_mem_addr[win][j] = PS_MEM_SC[ich][j];
        dbd_pitch[win] = static_cast<int32_t>(PS_ICH_MEMVAL);
        return 0;
    }
    const int need = mode == 1 ? (port < HDMI_PORTS ? 1 : 2) : mode < 30 ? 2 : mode < 40 ? 3 : 4;
    const int first = find_dbd_run(need, ascending(mode));
    if (first == FREE) {
        int free = 0;
        for (int32_t b : dbd_block)
            free += b == FREE;
        debugPrint("Dot-By-Dot memory assignment error!!!   win=%d  mode=%d  mem_cnt=%d  blk_cnt=%d\n", win, mode, need,
                   free);
        return -1;
    }
    for (int i = 0; i < need && i < SLOTS; ++i) {
        dbd_block[first + i] = USED;
        win_dbd_block[win][i] = first + i;
    }
    for (int j = 0; j < STORES; ++j)
        dbd_mem_addr[win][j] = PS_MEM_REGION[j] + PS_MEM_DBD * static_cast<uint32_t>(first);
    dbd_pitch[win] = units(dbd_width(win, mode));
    return 0;
}

// Summed active width of the ports a dot-by-dot window shows.
int32_t c331_manage::dbd_width(int win, int32_t mode) const
{
    if (mode == 1)
        return valid_port(PM_INPUT[win]) ? PI_ACT_FULL[PM_INPUT[win]].hw : 0;
    int32_t width = 0;
    for (const DbdWidth &d : DBD_WIDTH)
        if (d.mode == mode)
            for (int i = 0; i < d.count; ++i)
                width += PI_ACT_FULL[d.ports[i]].hw;
    return width;
}

// ---- waits ----

void c331_manage::wait1_pivs(int fd, int ich)
{
    if (ich < 0 || ich >= ICH_NUM)
        return;
    const uint32_t flag = 1u << ich;
    c331drv->write_C331(fd, VSYNC_ARM, flag, 0);
    measure_hold(fd, true);
    uint32_t flags = c331drv->read_C331(fd, VSYNC_FLAGS, 0);
    uint32_t status = c331drv->read_C331(fd, ich_status(ich), 0);
    for (int n = 0; n < VSYNC_READS && !(flags & flag) && status != STATUS_GONE; ++n) {
        flags = c331drv->read_C331(fd, VSYNC_FLAGS, 0);
        status = c331drv->read_C331(fd, ich_status(ich), 0);
    }
    c331drv->write_C331(fd, VSYNC_ARM, 0, 0);
    measure_hold(fd, false);
}

void c331_manage::wait1_pivs2(int fd)
{
    int chosen = -1;
    double slowest = SLOWEST_FV_BELOW;
    for (int w = 0; w < WIN_NUM; ++w) {
        const int port = PM_INPUT[w];
        if (!(g_chg_win[w] || g_chg_input[w] || g_chg_dbd[w]) || !valid_port(port))
            continue;
        if (PI_FV[port] < slowest) {
            slowest = PI_FV[port];
            chosen = w;
        }
    }
    const int ich = chosen >= 0 ? win_ich[chosen][0] : -1;
    if (ich < 0 || ich >= ICH_NUM) {
        platform::pauseMs(NO_WAIT_MS);
        return;
    }
    wait1_pivs(fd, ich);
}

int c331_manage::wait_field_change(int fd, int i, int shift, int reads)
{
    const uint32_t reg = C331_ICH_WRITE_STATUS(i);
    measure_hold(fd, true);
    const int first = (c331drv->read_C331(fd, reg, 0) >> shift) & 3;
    int field = first;
    for (int n = 0; n < reads && field == first; ++n)
        field = (c331drv->read_C331(fd, reg, 0) >> shift) & 3;
    measure_hold(fd, false);
    return field != first ? field : (field + 1) & 3;
}

int c331_manage::wait_ifld_change(int fd, int port)
{
    if (!valid_port(port))
        return 0;
    // Ports 0..3 at their own number, the V-by-One ports at 4 and 6.
    const int i = port < HDMI_PORTS ? port : port == 4 ? 4 : 6;
    return wait_field_change(fd, i, 2, IFIELD_READS);
}

int c331_manage::wait_ofld_change(int fd, int och)
{
    if (och < 0 || och >= OCH_NUM)
        return 0;
    return wait_field_change(fd, och, 0, OFIELD_READS);
}
