// Input-channel allocation: which window owns which of the eight input
// channels, the choice of free channels, moving another window to make room,
// and the channels' input selectors and dual-channel split.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"

#include <initializer_list>

namespace {

constexpr int FREE = -1;
constexpr int HDMI_PORTS = 4;
constexpr int ICH = c331_manage::ICH_NUM;
constexpr int WINS = c331_manage::WIN_NUM;

constexpr uint32_t ich_selector(int c) { return C331_REG(0x00, 0x10 + c, 1); }
constexpr uint32_t DUAL_BANK = 0x03;

bool is_hdmi(int port) { return port >= 0 && port < HDMI_PORTS; }
bool is_vbo(int port) { return port >= HDMI_PORTS && port < c331_manage::PORT_NUM; }
bool dbd_multi(int32_t mode) { return mode > 1; }

// Channels in the order they are tried.
struct Order {
    int n = 0;
    int c[ICH] = {};
    Order(std::initializer_list<int> list)
    {
        for (int ch : list)
            c[n++] = ch;
    }
};
const Order ANY = {0, 1, 2, 3, 4, 5, 6, 7};
const Order LOW = {0, 1, 2, 3};    // the channels that take an interlaced input
const Order HIGH = {4, 5, 6, 7};

// Selectors of the dot-by-dot modes, written in channel-list order;
// VBO_SECOND stands for a V-by-One port's second channel, whose selector
// follows the lane count.
constexpr int32_t VBO_SECOND = -1;
struct DbdSelectors {
    int32_t mode;
    int count;
    int32_t sel[4];
};
const DbdSelectors DBD_SELECTORS[] = {
    {20, 2, {0, 2}}, {21, 2, {0, 2}}, {22, 2, {4, 6}}, {23, 2, {4, 6}}, {30, 3, {0, 2, 4}},
    {40, 4, {0, 2, 4, 6}}, {41, 4, {0, 2, 4, 6}},
    {50, 4, {8, VBO_SECOND, 12, VBO_SECOND}}, {51, 4, {8, VBO_SECOND, 12, VBO_SECOND}},
};

// Selector of a V-by-One port's second channel: +1 up to four lanes, +2 above.
int32_t vbo_second(int32_t first, int32_t lanes) { return first + (lanes <= 4 ? 1 : 2); }

// Channels a window needs.
int ich_need(const c331_manage &m, int w)
{
    const int32_t mode = m.PM_WIN_DBD_MODE[w];
    if (mode == 0 || mode == 1)
        return is_hdmi(m.PM_INPUT[w]) ? 1 : is_vbo(m.PM_INPUT[w]) ? 2 : 0;
    if (mode >= 2 && mode <= 29)
        return 2;
    if (mode >= 30 && mode <= 39)
        return 3;
    if (mode >= 40 && mode <= 51)
        return 4;
    return 0;
}

int ich_count(const c331_manage &m, int w)
{
    int n = 0;
    for (int c = 0; c < ICH; ++c)
        n += m.ich_owner[c] == w;
    return n;
}

void rebuild_lists(c331_manage &m)
{
    for (int w = 0; w < WINS; ++w) {
        int n = 0;
        for (int c = 0; c < ICH; ++c)
            if (m.ich_owner[c] == w)
                m.win_ich[w][n++] = c;
        while (n < ICH)
            m.win_ich[w][n++] = FREE;
    }
}

int first_free(const c331_manage &m, const Order &order)
{
    for (int i = 0; i < order.n; ++i)
        if (m.ich_owner[order.c[i]] == FREE)
            return order.c[i];
    return FREE;
}

// Gives `win` the first free channel of `order`; the channel, or -1.
int take(c331_manage &m, int win, const Order &order)
{
    const int c = first_free(m, order);
    if (c != FREE)
        m.ich_owner[c] = win;
    return c;
}

// Moves the owner of channel `from` to the first free channel of `order`;
// false (nothing changed) when none is free.
bool move(c331_manage &m, int from, const Order &order)
{
    const int to = first_free(m, order);
    if (to == FREE)
        return false;
    const int owner = m.ich_owner[from];
    m.ich_owner[to] = owner;
    m.ich_owner[from] = FREE;
    if (owner >= 0 && owner < WINS)
        m.g_chg_input[owner] = 2;
    return true;
}

// A window whose channels must stay a consecutive pair: a V-by-One port in
// normal or single dot-by-dot mode.
bool owns_pair(const c331_manage &m, int w)
{
    return w >= 0 && w < WINS && !dbd_multi(m.PM_WIN_DBD_MODE[w]) && is_vbo(m.PM_INPUT[w]);
}

// Interlace flag of what a window shows (a several-port dot-by-dot window
// is progressive).
int32_t shows_interlaced(const c331_manage &m, int w)
{
    if (w < 0 || w >= WINS || dbd_multi(m.PM_WIN_DBD_MODE[w]))
        return 0;
    return m.port_interlaced(m.PM_INPUT[w]) ? 1 : 0;
}

// Moves the pair starting at channel `first` to a free pair among 4..7.
bool move_pair(c331_manage &m, int first)
{
    for (int to : {4, 6}) {
        if (m.ich_owner[to] != FREE || m.ich_owner[to + 1] != FREE)
            continue;
        const int owner = m.ich_owner[first];
        m.ich_owner[to] = m.ich_owner[to + 1] = owner;
        m.ich_owner[first] = m.ich_owner[first + 1] = FREE;
        m.g_chg_input[owner] = 2;
        return true;
    }
    return false;
}

// An interlaced single channel: a free one of 0..3, else one freed by moving
// a progressive window to channels 4..7. A window that owns a channel pair
// moves as a whole pair and is never split.
int adjust_interlaced(c331_manage &m, int win)
{
    int c = take(m, win, LOW);
    if (c != FREE)
        return c;
    for (c = 0; c < LOW.n; ++c) {
        const int owner = m.ich_owner[c];
        if (!owns_pair(m, owner) && !shows_interlaced(m, owner) && move(m, c, HIGH)) {
            m.ich_owner[c] = win;
            return c;
        }
    }
    for (c = 0; c < LOW.n; c += 2) {
        const int owner = m.ich_owner[c];
        if (owns_pair(m, owner) && m.ich_owner[c + 1] == owner && !shows_interlaced(m, owner) && move_pair(m, c)) {
            m.ich_owner[c] = win;
            return c;
        }
    }
    debugPrint("ICH1-4 is not available!!!\n");
    return take(m, win, HIGH);
}

// A channel pair: free one by moving the owner of its partner channel.
int adjust_pair(c331_manage &m, int win)
{
    struct Option {
        int free, moved;
        Order to;
    };
    static const Option options[] = {
        {4, 5, {6, 7, 0, 1, 2, 3}}, {5, 4, {6, 7, 0, 1, 2, 3}}, {6, 7, {0, 1, 2, 3}},
        {7, 6, {0, 1, 2, 3}},       {0, 1, {2, 3}},             {1, 0, {2, 3}},
    };
    for (const Option &o : options) {
        if (m.ich_owner[o.free] != FREE)
            continue;
        if (!move(m, o.moved, o.to))
            return FREE;
        const int first = o.free & ~1;
        m.ich_owner[first] = m.ich_owner[first + 1] = win;
        return first;
    }
    return FREE;
}

int allocate_single(c331_manage &m, int win, int port)
{
    if (!is_hdmi(port) && !is_vbo(port))
        return 2;
    const int ip = m.port_interlaced(port) ? 1 : 0;
    const int pair = is_vbo(port);
    const int c = m.check_ich(ip, pair);
    if (c == FREE)
        return m.adjust_ich(ip, pair, win) == 0 ? 1 : 2;
    m.ich_owner[c] = win;
    if (pair)
        m.ich_owner[c + 1] = win;
    return 0;
}

// Dot-by-dot windows of several ports take single progressive channels.
int allocate_dbd(c331_manage &m, int win, int port, int32_t mode)
{
    const int need = mode <= 29 ? 2 : mode <= 39 ? 3 : mode <= 51 ? 4 : 0;
    int result = 0;
    for (int i = 0; i < need; ++i) {
        const int c = m.check_ich(0, 0);
        if (c != FREE) {
            m.ich_owner[c] = win;
            result = 0;
            continue;
        }
        if (m.adjust_ich(0, 0, win) != 0)
            break;
        result = 1;
        if (mode <= 39)
            return 1;
    }
    if (need == 0 || ich_count(m, win) < need) {
        debugPrint("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", win, port);
        return 2;
    }
    return result;
}

} // namespace

bool c331_manage::win_available(int w) const
{
    return w >= 0 && w < WIN_NUM && PM_WIN_SHAPE[w][0] != 0 && PM_WIN_SHAPE[w][1] != 0;
}

int c331_manage::check_ich_all(int win)
{
    int sum = 0;
    for (int w = 0; w < WIN_NUM; ++w)
        if (win_available(w))
            sum += ich_need(*this, w);
    if (sum > ICH_NUM) {
        debugPrint("check_ich_all ret=%d\n", -1);
        return -1;
    }
    for (int c = 0; c < ICH_NUM; ++c) {
        const int owner = ich_owner[c];
        if (owner < 0 || owner >= WIN_NUM || !win_available(owner) || owner == win)
            ich_owner[c] = FREE;
    }
    rebuild_lists(*this);
    debugPrint("check_ich_all ret=%d\n", sum);
    return sum;
}

int c331_manage::check_ich(int interlaced, int pair)
{
    auto F = [this](int c) { return ich_owner[c] == FREE; };
    if (pair) {
        for (int first : {4, 6, 2, 0})
            if (F(first) && F(first + 1))
                return first;
        return FREE;
    }
    // Channel 3 before 0 when channel 2 is taken keeps the pair 0, 1 whole.
    if (F(0))
        return !F(2) && F(3) ? 3 : 0;
    if (interlaced)
        return F(1) ? 1 : F(2) ? 2 : F(3) ? 3 : FREE;
    if (F(2))
        return F(1) ? 1 : 2;
    if (F(1))
        return 1;
    if (F(3))
        return 3;
    if (F(4))
        return F(6) ? 4 : F(7) ? 7 : 4;
    if (F(6))
        return F(5) ? 5 : 6;
    return F(5) ? 5 : F(7) ? 7 : FREE;
}

int c331_manage::adjust_ich(int interlaced, int pair, int win)
{
    const int got = pair ? adjust_pair(*this, win) : interlaced ? adjust_interlaced(*this, win) : take(*this, win, ANY);
    if (got == FREE) {
        debugPrint("adjust_ich NG!!!\n");
        return -1;
    }
    return 0;
}

int c331_manage::set_input(int win, int port)
{
    if (win < 0 || win >= WIN_NUM)
        return 2;
    const int32_t mode = PM_WIN_DBD_MODE[win];
    if (dbd_multi(mode) && g_chg_dbd[win] == 0)
        return 0;
    if (!win_available(win)) {
        debugPrint("[set_input] win_%d, port_%d, window is unavailable\n", win, port);
        return 2;
    }
    if (check_ich_all(win) == -1) {
        debugPrint("[set_input] win_%d, check_ich_all(win) fail\n", win);
        return 2;
    }
    const int result = dbd_multi(mode) ? allocate_dbd(*this, win, port, mode) : allocate_single(*this, win, port);
    rebuild_lists(*this);
    return result;
}

void c331_manage::reset_ich(int win)
{
    if (win < 0 || win >= WIN_NUM || win_available(win))
        return;
    for (int i = 0; i < ICH_NUM && win_ich[win][i] != FREE; ++i) {
        const int c = win_ich[win][i];
        if (c >= 0 && c < ICH_NUM && ich_owner[c] == win)
            ich_owner[c] = FREE;
        win_ich[win][i] = FREE;
    }
}

void c331_manage::set_ichsel(int fd, int win)
{
    if (win < 0 || win >= WIN_NUM)
        return;
    const int32_t mode = PM_WIN_DBD_MODE[win];
    debugPrint("[set_ichsel] PM_WIN_DBD_MODE[win_%d]:%d\n", win, mode);
    const int32_t *list = win_ich[win];
    if (!dbd_multi(mode)) {
        const int port = PM_INPUT[win];
        const int c = list[0];
        if (c < 0 || c >= ICH_NUM)
            return;
        if (is_hdmi(port)) {
            c331drv->write_C331(fd, ich_selector(c), 2 * port, 0);
        } else if (is_vbo(port) && c + 1 < ICH_NUM) {
            const int32_t first = 4 * (port - 2);
            c331drv->write_C331(fd, ich_selector(c), first, 0);
            c331drv->write_C331(fd, ich_selector(c + 1), vbo_second(first, PI_HDMI_INFO[port].lane), 0);
        }
        return;
    }
    for (const DbdSelectors &d : DBD_SELECTORS) {
        if (d.mode != mode)
            continue;
        if (mode == 50 || mode == 51)
            for (int port : {4, 5})
                debugPrint(PI_HDMI_INFO[port].lane <= 4 ? "\t port_%d 4 lane\n" : "\t port_%d 8 lane\n", port);
        for (int i = 0; i < d.count && list[i] >= 0 && list[i] < ICH_NUM; ++i) {
            // The first channel of port 4 has selector 8, that of port 5 12.
            const int32_t sel = d.sel[i] != VBO_SECOND
                                    ? d.sel[i]
                                    : vbo_second(d.sel[i - 1], PI_HDMI_INFO[d.sel[i - 1] == 8 ? 4 : 5].lane);
            c331drv->write_C331(fd, ich_selector(list[i]), static_cast<uint32_t>(sel), 0);
        }
    }
}

void c331_manage::set_idual(int fd, int ich, int on, int port)
{
    if (ich < 0 || ich >= ICH_NUM)
        return;
    const uint32_t g = static_cast<uint32_t>(ich / 2);
    const uint32_t mode = C331_REG(DUAL_BANK, 0x08 + 9 * g, 1);
    // A window without a chip port has nothing to split.
    if (!on || port < 0 || port >= PORT_NUM) {
        c331drv->write_C331(fd, mode, 0, 0);
        return;
    }
    c331drv->write_C331(fd, mode, 3, 0);
    c331drv->write_C331(fd, C331_REG(DUAL_BANK, 0x09 + 9 * g, 2), static_cast<uint32_t>(PI_ACT[port].hst), 0);
    c331drv->write_C331(fd, C331_REG(DUAL_BANK, 0x0B + 9 * g, 2), static_cast<uint32_t>(2 * PI_ACT[port].hw), 0);
}
