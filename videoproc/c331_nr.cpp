// Noise reduction and deinterlacer of the CMOS input channels 0..3, and the
// processing mode of every window's input channels.

#include "videoproc/c331_manage.h"

#include "videoproc/c331_regtable.h"

namespace {

using c331_table::RegRow;
using c331_table::RegVal;

constexpr int ICH_STEP = 16;   // bank distance of two input channels

constexpr uint32_t MEASURE_HOLD = 0x002901;
constexpr uint8_t HOLD = 0x80;

// Input-channel measurement (bank 0xA8, 6 sub-addresses per channel).
constexpr uint32_t reg_ifh(int ich) { return C331_REG(0xA8, 0x08 + 6 * ich, 2); }
constexpr uint32_t reg_ifv(int ich) { return C331_REG(0xA8, 0x0A + 6 * ich, 2); }

// Deinterlacer frame (bank 0x14).
constexpr uint32_t IP_HTOTAL = 0x140802;
constexpr uint32_t IP_VTOTAL = 0x140A02;
constexpr uint32_t IP_ON = 0x140C01;
constexpr uint32_t IP_HACT = 0x140F02;
constexpr uint32_t IP_VST = 0x141102;
constexpr uint32_t IP_VACT = 0x141302;
constexpr uint32_t IP_MODE = 0x142A01;
constexpr uint32_t IP_67 = 0x146701;
constexpr uint32_t IP_68 = 0x146801;
constexpr uint32_t IP_HPOS = 0x146D02;

// Noise reduction (bank 0x15 and the temporal filter in bank 0x12).
constexpr uint32_t NR_ENABLE = 0x150801;
constexpr uint32_t NR_MOSQ_ON = 0x150901;
constexpr uint32_t NR_BLOCK = 0x153902;
constexpr uint32_t NR_HV = 0x156B01;
constexpr uint32_t NR_PATH = 0x157001;
constexpr uint32_t NR_TEMPORAL_ON = 0x120801;

// Deinterlacer memory (bank 0x17, 4-byte addresses) and its switch (bank 0x16).
constexpr uint32_t MEM_ADDR[8] = {0x171804, 0x171C04, 0x172004, 0x172404,
                                  0x170804, 0x170C04, 0x171004, 0x171404};
constexpr uint32_t MEM_LINE_OFFSET = 0x175902;
constexpr uint32_t MEM_INTERLACED = 0x165B01;

// Processing mode of input channel c (0x00 : 0x08 + c) and its link
// (0x10 : 0x09 of the channel).
constexpr uint32_t reg_ich_mode(int c) { return C331_REG(0x00, 0x08 + c, 1); }
constexpr uint32_t ICH_LINK = 0x100901;

constexpr bool in_levels(int32_t level) { return level >= 1 && level <= 3; }
constexpr bool valid_port(int port) { return port >= 0 && port < c331_manage::PORT_NUM; }
// A per-port setting; a port outside 0..5 has everything off.
int32_t level_of(const int32_t (&levels)[c331_manage::PORT_NUM], int port)
{
    return valid_port(port) ? levels[port] : 0;
}

// ---- block noise reduction presets ----

enum BlockFormat { B_480I, B_480P, B_720P, B_1080I, B_1080P };

// Level part: columns levels 1, 2, 3.
constexpr RegRow<3> BLOCK_LEVEL[] = {
    {0x153902, {8855, 8855, 3223}},
    {0x153B01, {144, 160, 176}},
    {0x153C01, {64, 64, 64}}, {0x153D01, {80, 80, 80}}, {0x153E01, {96, 96, 96}}, {0x153F01, {128, 128, 128}},
    {0x154001, {32, 16, 16}},
    {0x154101, {132, 66, 66}},
    {0x154201, {65, 51, 51}},
    {0x154301, {6, 4, 4}},
    {0x154401, {16, 16, 6}},
};

// Format part: columns 480i, 480p, 720p, 1080i, 1080p.
constexpr RegRow<5> BLOCK_FORMAT[] = {
    {0x154501, {64, 64, 64, 64, 64}},
    {0x154601, {0, 0, 0, 0, 0}}, {0x154701, {0, 0, 0, 0, 0}},
    {0x154801, {6, 6, 6, 6, 6}},
    {0x154901, {4, 4, 4, 4, 4}},
    {0x154A01, {64, 64, 64, 64, 64}},
    {0x154B01, {18, 18, 18, 18, 18}},
    {0x154C01, {16, 16, 16, 16, 16}},
    {0x154D02, {64, 64, 171, 384, 384}},
    {0x154F02, {16, 16, 43, 96, 96}},
    {0x155101, {64, 64, 64, 64, 64}},
    {0x155201, {18, 18, 18, 18, 18}},
    {0x155301, {16, 16, 16, 16, 16}},
    {0x155402, {64, 128, 342, 384, 768}},
    {0x155602, {16, 32, 86, 96, 192}},
    {0x155801, {0, 0, 0, 0, 0}}, {0x155901, {0, 0, 0, 0, 0}}, {0x155A01, {0, 0, 0, 0, 0}}, {0x155B01, {0, 0, 0, 0, 0}},
    {0x155C02, {0, 0, 0, 0, 0}}, {0x155E02, {0, 0, 0, 0, 0}}, {0x156002, {0, 0, 0, 0, 0}}, {0x156202, {0, 0, 0, 0, 0}},
    {0x156401, {18, 18, 18, 18, 18}},
    {0x156501, {0, 0, 0, 0, 0}}, {0x156601, {0, 0, 0, 0, 0}},
    {0x156702, {0, 0, 0, 0, 0}},
    {0x156901, {8, 8, 8, 8, 8}},
    {0x156A01, {8, 6, 16, 48, 36}},
};

// ---- temporal, horizontal/vertical and mosquito noise reduction ----

constexpr RegRow<3> TEMPORAL[] = {
    {0x120801, {3, 3, 3}},
    {0x120901, {49, 49, 49}}, {0x120A01, {117, 117, 117}}, {0x120B01, {185, 185, 185}}, {0x120C01, {253, 253, 253}},
    {0x120D01, {18, 17, 0}}, {0x120E01, {20, 18, 8}}, {0x120F01, {24, 20, 12}},
    {0x121001, {27, 22, 16}}, {0x121101, {28, 24, 20}}, {0x121201, {29, 26, 24}},
    {0x121301, {30, 28, 28}},
    {0x121401, {31, 31, 31}},
};

// Horizontal / vertical filter strength pairs: columns off, levels 1, 2, 3.
constexpr uint16_t HV_FIRST[4] = {0, 66, 117, 168};
constexpr uint16_t HV_SECOND[4] = {0, 150, 201, 252};
constexpr uint32_t NR_H_FIRST = 0x156E01, NR_H_SECOND = 0x156F01;
constexpr uint32_t NR_V_FIRST = 0x156C01, NR_V_SECOND = 0x156D01;

constexpr RegRow<3> MOSQUITO[] = {
    {0x150901, {1, 1, 1}},
    {0x150A01, {128, 128, 128}}, {0x150B01, {56, 56, 56}}, {0x150C01, {8, 8, 8}},
    {0x150D01, {128, 128, 128}}, {0x150E01, {56, 56, 56}}, {0x150F01, {8, 8, 8}},
    {0x151001, {63, 127, 127}}, {0x151101, {63, 127, 127}}, {0x151601, {63, 127, 127}}, {0x151701, {63, 127, 127}},
    {0x151201, {127, 127, 127}}, {0x151301, {127, 127, 127}}, {0x151401, {127, 127, 127}}, {0x151501, {127, 127, 127}},
    {0x151801, {127, 127, 127}}, {0x151901, {127, 127, 127}}, {0x151A01, {127, 127, 127}}, {0x151B01, {127, 127, 127}},
    {0x151C01, {252, 252, 252}},
    {0x151D01, {32, 63, 255}},
    {0x151E01, {213, 217, 217}},
    {0x151F01, {127, 255, 111}},
    {0x152001, {24, 24, 0}},
    {0x152101, {36, 0, 0}},
    {0x152201, {0, 0, 0}}, {0x152301, {0, 0, 0}}, {0x152401, {0, 0, 0}}, {0x152501, {0, 0, 0}}, {0x152601, {0, 0, 0}},
    {0x152801, {64, 64, 0}},
    {0x152901, {81, 0, 0}},
    {0x152A01, {0, 0, 0}}, {0x152B01, {0, 0, 0}}, {0x152C01, {0, 0, 0}}, {0x152D01, {0, 0, 0}}, {0x152E01, {0, 0, 0}},
};

// ---- deinterlacer filters (bank 0x14) ----

constexpr uint32_t MVFLT_ON = 0x141501;
// Columns motion-filter levels 0..4.
constexpr RegRow<5> MVFLT[] = {
    {0x141A01, {0, 4, 8, 8, 16}}, {0x141B01, {0, 4, 8, 8, 16}},
    {0x141E01, {0, 4, 8, 8, 16}}, {0x141F01, {0, 4, 8, 8, 16}},
    {0x141C01, {0, 8, 8, 16, 24}}, {0x142001, {0, 8, 8, 16, 24}},
    {0x141D01, {0, 8, 16, 24, 31}},
    {0x142101, {0, 8, 16, 24, 31}},
};

// Columns off, levels 1, 2, 3.
constexpr RegRow<4> DIAG[] = {
    {0x145001, {0, 9, 11, 11}},
    {0x145101, {0, 255, 127, 127}},
    {0x145201, {0, 119, 119, 119}},
    {0x145301, {0, 0, 3, 19}},
    {0x145401, {0, 4, 4, 9}},
    {0x145501, {0, 16, 16, 16}},
    {0x145601, {0, 3, 1, 3}},
    {0x145701, {0, 8, 4, 8}},
    {0x145801, {0, 10, 10, 10}}, {0x145901, {0, 20, 20, 20}},
    {0x145A01, {0, 4, 4, 4}}, {0x145B01, {0, 4, 4, 4}},
    {0x145C01, {0, 2, 2, 2}}, {0x145D01, {0, 2, 2, 2}},
    {0x145E01, {0, 16, 16, 16}},
    {0x145F01, {0, 50, 50, 49}},
};
constexpr RegVal DIAG_TAIL[] = {{0x146001, 0}, {0x146101, 0}, {0x146201, 0}, {0x146301, 0}};

constexpr uint32_t COMB_ON = 0x143B01;
constexpr RegRow<3> COMB[] = {
    {0x143B01, {1, 1, 1}},
    {0x143C01, {16, 20, 112}},
    {0x143D01, {128, 128, 160}},
};

// Columns STATE 5, 6, 7, 8 (the interlaced formats).
constexpr RegRow<4> IPREGS[] = {
    {0x142E01, {26, 26, 13, 13}},
    {0x142F01, {16, 16, 3, 3}},
    {0x143001, {17, 17, 17, 17}},
    {0x143101, {142, 142, 53, 69}},
    {0x143201, {6, 6, 2, 2}},
    {0x143301, {128, 128, 128, 128}},
    {0x143401, {192, 192, 40, 40}},
    {0x143501, {193, 0, 196, 0}}, {0x143601, {193, 0, 196, 0}}, {0x143701, {193, 0, 196, 0}},
    {0x143801, {0, 0, 196, 0}},
    {0x143901, {193, 0, 194, 0}},
    {0x143A01, {193, 0, 194, 0}},
    {0x144201, {68, 68, 70, 70}},
    {0x144301, {0, 0, 0, 0}}, {0x144401, {3, 3, 3, 3}},
    {0x144501, {0, 0, 0, 0}}, {0x144601, {0, 0, 0, 0}},
    {0x144701, {2, 2, 0, 0}},
    {0x144801, {15, 15, 9, 9}},
    {0x144901, {0, 0, 0, 0}}, {0x144A01, {0, 0, 0, 0}},
};
constexpr uint32_t IP_PULLDOWN = 0x142C01;
constexpr uint32_t IP_FILM = 0x142D01;
constexpr uint32_t IP_PULLDOWN_TH = 0x143001;

} // namespace

// ---- the input port as this area sees it ----

int32_t c331_manage::port_state(int port) const
{
    return port >= 0 && port < PORT_NUM ? PI_STATE[port] : 0;
}

bool c331_manage::port_interlaced(int port) const
{
    return port >= 0 && port < PORT_NUM && PI_PORT_INFO[port].IP != 0;
}

bool c331_manage::port_nosignal(int port) const
{
    return port < 0 || port >= PORT_NUM || PI_PORT_INFO[port].NOSIG != 0;
}

bool c331_manage::port_nr_on(int port) const
{
    if (port < 0 || port >= PORT_NUM)
        return false;
    return PM_HNR[port] || PM_VNR[port] || PM_TNR[port] || PM_BNR[port] || PM_MNR[port];
}

// ---- deinterlacer ----

namespace {

// Measures the channel's line and field counts on a settled frame and sets
// the deinterlacer's frame from them and the port's active rectangle.
void ip_frame(c331_manage &m, int fd, int ich, int p, bool interlaced)
{
    c331_drv &d = *m.c331drv;
    const int off = ICH_STEP * ich;
    m.wait1_pivs(fd, ich);
    m.wait1_pivs(fd, ich);
    d.write_C331(fd, MEASURE_HOLD, HOLD, 0);
    m.PI_IFH[p] = static_cast<int32_t>(d.read_C331(fd, reg_ifh(ich), 0)) + 1;
    m.PI_IFV[p] = static_cast<int32_t>(d.read_C331(fd, reg_ifv(ich), 0));
    d.write_C331(fd, MEASURE_HOLD, 0, 0);

    const int fields = interlaced ? 2 : 1;
    const int32_t h = (interlaced ? (m.PI_IFH[p] + 1) / 2 : m.PI_IFH[p]) + 32;
    const ST_ACT &act = m.PI_ACT[p];
    const RegVal frame[] = {
        {IP_HTOTAL, uint32_t(h)},
        {IP_VTOTAL, uint32_t((m.PI_IFV[p] + 16) * 2)},
        {IP_HPOS, uint32_t((((h + 1) * 3 / 4) & 0x3FFF) | 0x8000)},
        {IP_ON, 1},
        {IP_HACT, uint32_t(act.hw)},
        {IP_VACT, uint32_t(act.vw * fields)},
        {IP_VST, uint32_t((act.vst * fields) | 0x8000)},
    };
    c331_table::write(d, fd, frame, off);
}

// Frame memory: interlaced fields are written one line apart into the two
// interlaced buffers; progressive frames alternate between the two
// progressive buffers.
void ip_memory(c331_manage &m, int fd, int ich, bool interlaced)
{
    c331_drv &d = *m.c331drv;
    const int off = ICH_STEP * ich;
    const uint32_t line = (m.PS_MWI_IP[ich] & 0x1F) * 1024u;
    const uint32_t *ip = m.PS_MEM_IP_I[ich], *pp = m.PS_MEM_IP_P[ich];
    const uint32_t interlacedSet[4] = {line + ip[0], ip[0], line + ip[1], ip[1]};
    const uint32_t progressiveSet[4] = {pp[0], pp[1], pp[0], pp[1]};
    const uint32_t *set = interlaced ? interlacedSet : progressiveSet;
    for (int k = 0; k < 8; ++k)
        d.write_C331(fd, MEM_ADDR[k], set[k % 4], off);
    d.write_C331(fd, MEM_LINE_OFFSET, interlaced ? m.PS_MEM_IPYOFF[ich] : 0, off);
    d.write_C331(fd, MEM_INTERLACED, interlaced ? 1 : 0, off);
}

} // namespace

void c331_manage::set_ip(int fd, int ich)
{
    if (ich < 0 || ich >= CMOS_NUM)
        return;
    const int owner = ich_owner[ich];
    const int p = owner >= 0 && owner < WIN_NUM ? PM_INPUT[owner] : -1;
    const bool interlaced = port_interlaced(p);
    const int off = ICH_STEP * ich;

    if (!interlaced && !(port_state(p) > 3 && port_nr_on(p))) {
        c331drv->write_C331(fd, NR_PATH, 0, off);
        set_nr(fd, ich, p);
    } else {
        ip_frame(*this, fd, ich, p, interlaced);
        set_mvflt(fd, ich, p);
        set_diag(fd, ich, p);
        set_ipregs(fd, ich, p);
        set_comb(fd, ich, p);
        set_nr(fd, ich, p);
        const RegVal mode[] = {
            {IP_MODE, interlaced ? (PM_IPEN[p] ? 0u : 32u) : 16u},
            {IP_67, interlaced ? 8u : 0u},
            {IP_68, interlaced ? 4u : 0u},
        };
        c331_table::write(*c331drv, fd, mode, off);
    }
    ip_memory(*this, fd, ich, interlaced);
}

void c331_manage::set_mvflt(int fd, int ich, int port)
{
    const int off = ICH_STEP * ich;
    if (port_state(port) <= 3) {
        c331drv->write_C331(fd, MVFLT_ON, 0, off);
        c331_table::write_column(*c331drv, fd, MVFLT, 0, off);
        return;
    }
    const int32_t level = PM_MVFLT[port];
    c331drv->write_C331(fd, MVFLT_ON, level ? 31 : 0, off);
    if (level >= 0 && level <= 4)
        c331_table::write_column(*c331drv, fd, MVFLT, level, off);
}

void c331_manage::set_diag(int fd, int ich, int port)
{
    const int off = ICH_STEP * ich;
    if (port_state(port) <= 3 || !in_levels(PM_DIAG[port])) {
        c331_table::write_column(*c331drv, fd, DIAG, 0, off);
        return;
    }
    c331_table::write_column(*c331drv, fd, DIAG, PM_DIAG[port], off);
    c331_table::write(*c331drv, fd, DIAG_TAIL, off);
}

void c331_manage::set_comb(int fd, int ich, int port)
{
    const int off = ICH_STEP * ich;
    if (port_state(port) <= 3 || !in_levels(PM_COMB[port])) {
        c331drv->write_C331(fd, COMB_ON, 0, off);
        return;
    }
    c331_table::write_column(*c331drv, fd, COMB, PM_COMB[port] - 1, off);
}

void c331_manage::set_ipregs(int fd, int ich, int port)
{
    const int32_t state = port_state(port);
    if (state < 5 || state > 8)
        return;
    const int off = ICH_STEP * ich;
    c331_table::write_column(*c331drv, fd, IPREGS, state - 5, off);
    const int base = state <= 6 ? 51 : 50;
    c331drv->write_C331(fd, IP_PULLDOWN, base + (PM_22PD[port] ? 64 : 0) + (PM_23PD[port] ? 128 : 0), off);
    c331drv->write_C331(fd, IP_FILM, PM_24SF[port] ? 25 : 9, off);
    c331drv->write_C331(fd, IP_PULLDOWN_TH, PM_23PDSQTH[port] + 16 * PM_22PDSQTH[port], off);
}

// ---- noise reduction ----

void c331_manage::set_nr(int fd, int ich, int port)
{
    const int off = ICH_STEP * ich;
    c331_drv &d = *c331drv;
    if (port_state(port) <= 3) {
        // No signal, or two pixels per clock: the filters stay off.
        static const RegVal off_list[] = {
            {NR_BLOCK, 0}, {NR_TEMPORAL_ON, 0}, {NR_HV, 0}, {NR_MOSQ_ON, 0}, {NR_ENABLE, 0},
        };
        c331_table::write(d, fd, off_list, off);
        return;
    }
    set_nr_block(fd, ich, port);
    set_nr_tpx(fd, ich, port);
    set_nr_hvpx(fd, ich, port);
    set_nr_mosq(fd, ich, port);
    int enable = 0;
    if (!port_interlaced(port))
        enable = PM_BNR[port] ? 3 : port_nr_on(port) ? 1 : 0;
    d.write_C331(fd, NR_ENABLE, enable, off);
}

void c331_manage::set_nr_block(int fd, int ich, int port)
{
    if (!valid_port(port))
        return;
    if (PM_BNR[port] == 0) {
        c331drv->write_C331(fd, NR_BLOCK, 0, ICH_STEP * ich);
        return;
    }
    switch (PI_ACT[port].vw) {
    case 240: set_nr_b_480i(fd, ich, port); break;
    case 480: set_nr_b_480p(fd, ich, port); break;
    case 540: set_nr_b_1080i(fd, ich, port); break;
    case 720: set_nr_b_720p(fd, ich, port); break;
    case 1080: set_nr_b_1080p(fd, ich, port); break;
    default: break;
    }
}

namespace {

// A filter with three levels: its table column for levels 1..3, else only
// its switch off.
template <size_t R>
void write_filter(c331_drv &d, int fd, int off, uint32_t onReg, const RegRow<3> (&table)[R], int32_t level)
{
    if (!in_levels(level)) {
        d.write_C331(fd, onReg, 0, off);
        return;
    }
    c331_table::write_column(d, fd, table, level - 1, off);
}

// One block-NR preset: the level part, then the format part; a level other
// than 1..3 writes nothing.
void write_block_preset(c331_drv &d, int fd, int ich, int32_t level, BlockFormat format)
{
    if (!in_levels(level))
        return;
    const int off = ICH_STEP * ich;
    const bool interlaced = format == B_480I || format == B_1080I;
    d.write_C331(fd, NR_ENABLE, interlaced ? 0 : 3, off);
    c331_table::write_column(d, fd, BLOCK_LEVEL, level - 1, off);
    c331_table::write_column(d, fd, BLOCK_FORMAT, format, off);
}

} // namespace

// The block-NR presets of each input format.
void c331_manage::set_nr_b_480i(int fd, int ich, int port) { write_block_preset(*c331drv, fd, ich, level_of(PM_BNR, port), B_480I); }
void c331_manage::set_nr_b_480p(int fd, int ich, int port) { write_block_preset(*c331drv, fd, ich, level_of(PM_BNR, port), B_480P); }
void c331_manage::set_nr_b_720p(int fd, int ich, int port) { write_block_preset(*c331drv, fd, ich, level_of(PM_BNR, port), B_720P); }
void c331_manage::set_nr_b_1080i(int fd, int ich, int port) { write_block_preset(*c331drv, fd, ich, level_of(PM_BNR, port), B_1080I); }
void c331_manage::set_nr_b_1080p(int fd, int ich, int port) { write_block_preset(*c331drv, fd, ich, level_of(PM_BNR, port), B_1080P); }

void c331_manage::set_nr_tpx(int fd, int ich, int port)
{
    write_filter(*c331drv, fd, ICH_STEP * ich, NR_TEMPORAL_ON, TEMPORAL, level_of(PM_TNR, port));
}

void c331_manage::set_nr_hvpx(int fd, int ich, int port)
{
    const int off = ICH_STEP * ich;
    const int32_t hnr = level_of(PM_HNR, port), vnr = level_of(PM_VNR, port);
    const int h = in_levels(hnr) ? hnr : 0;
    const int v = in_levels(vnr) ? vnr : 0;
    c331drv->write_C331(fd, NR_HV, (vnr ? 16 : 0) + (hnr ? 1 : 0), off);
    c331drv->write_C331(fd, NR_H_FIRST, HV_FIRST[h], off);
    c331drv->write_C331(fd, NR_H_SECOND, HV_SECOND[h], off);
    c331drv->write_C331(fd, NR_V_FIRST, HV_FIRST[v], off);
    c331drv->write_C331(fd, NR_V_SECOND, HV_SECOND[v], off);
}

void c331_manage::set_nr_mosq(int fd, int ich, int port)
{
    write_filter(*c331drv, fd, ICH_STEP * ich, NR_MOSQ_ON, MOSQUITO, level_of(PM_MNR, port));
}

// ---- processing mode of a window's input channels ----

void c331_manage::set_mct(int fd, int win, int refresh)
{
    if (win < 0 || win >= WIN_NUM)
        return;
    const int32_t dbd = PM_WIN_DBD_MODE[win];
    int p = 0;
    if (dbd == 22 || dbd == 23)
        p = 2;
    else if (dbd == 50 || dbd == 51)
        p = 4;
    else if (dbd == 0 || dbd == 1)
        p = PM_INPUT[win];
    if (p < 0 || p >= PORT_NUM)
        return;

    int ch[ICH_NUM];
    int count = 0;
    for (int k = 0; k < ICH_NUM && win_ich[win][k] >= 0 && win_ich[win][k] < ICH_NUM; ++k)
        ch[count++] = win_ich[win][k];
    if (count == 0)
        return;

    c331_drv &d = *c331drv;
    const int s = PI_STATE[p] ? 17 : 1;
    const int c0 = ch[0];
    if (p > 3) {
        d.write_C331(fd, reg_ich_mode(c0), s, 0);
        d.write_C331(fd, ICH_LINK, 1, ICH_STEP * c0);
    } else {
        const int n = PM_BNR[p] ? 2 : port_nr_on(p) ? 1 : 0;
        // The first pass over an interlaced input keeps its channel unlinked.
        const bool first_interlaced = refresh == 0 && port_interlaced(p);
        const int path = first_interlaced || n ? 14 : 0;
        const int mode = c0 < CMOS_NUM && dbd <= 1 ? s + path : s;
        d.write_C331(fd, reg_ich_mode(c0), mode, 0);
        d.write_C331(fd, ICH_LINK, first_interlaced ? 0 : 1, ICH_STEP * c0);
        if (n != nren_old[p]) {
            static const int enable[3] = {0, 1, 3};
            nren_old[p] = n;
            if (!first_interlaced)
                d.write_C331(fd, NR_ENABLE, enable[n], ICH_STEP * c0);
        }
    }
    for (int k = 1; k < count; ++k) {
        d.write_C331(fd, reg_ich_mode(ch[k]), s, 0);
        d.write_C331(fd, ICH_LINK, c0 + 8, ICH_STEP * ch[k]);
    }
}
