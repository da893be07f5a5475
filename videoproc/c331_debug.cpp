// Test and debug register sequences for bench work: moving test bars,
// V-by-One receiver restarts, output synchronisation tests and read-backs of
// measurement registers. The PC tool requests them through the controller's
// debug registers; the chip thread runs them at the end of an apply pass.

#include "videoproc/c331_manage.h"

#include "app/logMsg.h"
#include "videoproc/c331_regtable.h"

namespace {

using c331_table::RegVal;

constexpr int OCH_STEP = 16;   // bank distance of two output channels

// One test bar on one output channel's pattern generator.
struct SlideBar {
    int och;
    uint8_t type;
    uint16_t length;
    uint8_t color[3];
    uint8_t depth[3];
};

constexpr SlideBar OUTPUT_BARS[] = {
    {0, 0x09, 1376, {0xFF, 0xFF, 0xFF}, {3, 3, 3}},
    {1, 0x09, 1376, {0xFF, 0x00, 0x00}, {3, 0, 0}},
    {2, 0x09, 1376, {0x00, 0xFF, 0x00}, {0, 3, 0}},
    {3, 0x09, 1376, {0x00, 0x00, 0xFF}, {0, 0, 3}},
};
constexpr SlideBar INPUT_BARS[] = {
    {4, 0x89, 2752, {0xFF, 0xFF, 0xFF}, {3, 3, 3}},
    {5, 0x89, 2752, {0x00, 0xFF, 0x00}, {0, 3, 0}},
};

// Pattern generator of an output channel (bank 0x08 + 16n).
constexpr uint32_t PG_TYPE = 0x085701;

void write_bar(c331_drv &d, int fd, const SlideBar &b)
{
    const RegVal list[] = {
        {PG_TYPE, b.type},
        {0x085801, 0}, {0x085901, 0}, {0x085A01, 0},
        {0x085B02, 160},
        {0x085D02, 0},
        {0x085F02, 32},
        {0x086102, b.length},
        {0x086301, b.color[0]}, {0x086401, b.color[1]}, {0x086501, b.color[2]},
        {0x086601, b.depth[0]}, {0x086701, b.depth[1]}, {0x086801, b.depth[2]},
    };
    c331_table::write(d, fd, list, OCH_STEP * b.och);
}

constexpr RegVal VBYONE_RX1_RESTART[] = {
    {0x027F01, 14}, {0x027F01, 15}, {0x024001, 5}, {0x024F01, 0xFF}, {0x024C01, 0xAB},
};
constexpr RegVal VBYONE_RX2_RESTART[] = {
    {0x027F01, 13}, {0x027F01, 15}, {0x025C01, 5}, {0x026B01, 0xFF}, {0x026801, 0xAB},
};

// Output timing control and channel 0's frame lock.
constexpr uint32_t SYNC_CTRL = 0x080F01;
constexpr uint32_t LOCK_SOURCE = 0x081802;
constexpr uint32_t OCH_VTOTAL = 0x080C02;
constexpr uint32_t OCH_VLOCK = 0x081D02;
constexpr int TEST_INPUT_PAUSE_MS = 100;
constexpr int FRAME_LOCK_VTOTAL = 5489;

constexpr RegVal SYNC_TEST_INPUT[] = {
    {0x004801, 0x89}, {0x004901, 0x43}, {0x004A01, 2}, {0x004B01, 0x10}, {LOCK_SOURCE, 1}, {SYNC_CTRL, 0xC4},
};

void every_och(c331_drv &d, int fd, uint32_t reg, uint32_t value)
{
    for (int n = 0; n < c331_manage::OCH_NUM; ++n)
        d.write_C331(fd, reg, value, OCH_STEP * n);
}

void frame_lock_start(c331_drv &d, int fd, uint8_t ctrl, uint16_t source)
{
    const RegVal list[] = {{0x005502, 64}, {SYNC_CTRL, ctrl}, {0x080802, 0x0403}, {LOCK_SOURCE, source}};
    c331_table::write(d, fd, list);
}

// Output frame locked to the lock source with the fixed test total.
void fixed_frame_lock(c331_drv &d, int fd, uint16_t source)
{
    frame_lock_start(d, fd, 4, source);
    every_och(d, fd, OCH_VTOTAL, FRAME_LOCK_VTOTAL);
}

// Every output channel's frame locked to the second V-by-One receiver with
// the given vertical total.
void lock_output_frames(c331_drv &d, int fd, int vtotal)
{
    frame_lock_start(d, fd, 0x84, 2);
    for (int n = 0; n < c331_manage::OCH_NUM; ++n) {
        d.write_C331(fd, OCH_VTOTAL, vtotal, OCH_STEP * n);
        d.write_C331(fd, OCH_VLOCK, 1, OCH_STEP * n);
    }
}

// Measurements of the V-by-One lock sub-channels (bank 0xAE).
struct Measure {
    uint32_t reg;
    const char *name;
};
constexpr Measure B174_MEASURES[] = {
    {0xAE4002, "B174_VI11FHM"}, {0xAE4202, "B174_VI13FHM"}, {0xAE4402, "B174_VI15FHM"}, {0xAE4602, "B174_VI17FHM"},
    {0xAE5C03, "B174_VI11FVM"}, {0xAE5F03, "B174_VI13FVM"}, {0xAE6203, "B174_VI15FVM"}, {0xAE6503, "B174_VI17FVM"},
};
constexpr uint32_t B3_IDUALCTCH56 = 0x031A01;
constexpr uint32_t B80_IACTHSTCH5 = 0x501702;

} // namespace

void c331_manage::output_slidebar(int fd)
{
    for (const SlideBar &b : OUTPUT_BARS)
        write_bar(*c331drv, fd, b);
    debugPrint("\n output_slidebar over ");
}

void c331_manage::input_slidebar(int fd)
{
    for (const SlideBar &b : INPUT_BARS)
        write_bar(*c331drv, fd, b);
    debugPrint("\n input_slidebar over ");
}

void c331_manage::disable_slidebar(int fd)
{
    for (int n = 0; n < 6; ++n)
        c331drv->write_C331(fd, PG_TYPE, 0, OCH_STEP * n);
    debugPrint("\n disable_slidebar over ");
}

void c331_manage::vbyone_rx_ch1_seq(int fd)
{
    c331_table::write(*c331drv, fd, VBYONE_RX1_RESTART);
    debugPrint("\n vbyone_rx_ch1_seq over ");
}

void c331_manage::vbyone_rx_ch2_seq(int fd)
{
    c331_table::write(*c331drv, fd, VBYONE_RX2_RESTART);
    debugPrint("\n vbyone_rx_ch2_seq over ");
}

void c331_manage::read_c331_b174bug(int fd)
{
    for (const Measure &m : B174_MEASURES) {
        const uint32_t v = c331drv->read_C331(fd, m.reg, 0) + 1;
        debugPrint("\n read_c331_b174bug(%s=%d ) over \n", m.name, v);
    }
    const uint32_t dual = c331drv->read_C331(fd, B3_IDUALCTCH56, 0);
    debugPrint("\n read_c331_b174bug(B3_IDUALCTCH56=%d ) over \n", dual);
}

void c331_manage::write_read_c331_b80_iacthstch5(int fd)
{
    const uint32_t before = c331drv->read_C331(fd, B80_IACTHSTCH5, 0);
    c331drv->write_C331(fd, B80_IACTHSTCH5, before + 100, 0);
    const uint32_t after = c331drv->read_C331(fd, B80_IACTHSTCH5, 0);
    debugPrint("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d -> %d) over \n", before, after);
}

// The pause is the sequence's own (a settling time of the chip, bounded and
// through the program's pause layer).
void c331_manage::sync_c331_device_test_input(int fd)
{
    c331_table::write(*c331drv, fd, SYNC_TEST_INPUT);
    Sleep(TEST_INPUT_PAUSE_MS);
    c331drv->write_C331(fd, SYNC_CTRL, 0, 0);
    debugPrint("\n sync_c331_device_test_input over ");
}

void c331_manage::sync_c331_device_test_frame_lock(int fd)
{
    fixed_frame_lock(*c331drv, fd, 1);
    debugPrint("\n sync_c331_device_test_frame_lock over ");
}

void c331_manage::sync_c331_device_test_frame_lock_vbyrx3(int fd)
{
    fixed_frame_lock(*c331drv, fd, 2);
    debugPrint("\n sync_c331_device_test_frame_lock_vbyrx3 over ");
}

void c331_manage::sync_c331_device_test_frame_lock_vbyrx2(int fd)
{
    const int total = static_cast<int>(PS_VTOTAL * 1.1f);
    lock_output_frames(*c331drv, fd, total);
    debugPrint("\n sync_c331_device_test_frame_lock over total = %d ,och_vtt = %d\n", total, PS_VTOTAL);
}

void c331_manage::sync_c331_device_frame_lock_vbyrx2(int fd, int vtotal)
{
    lock_output_frames(*c331drv, fd, vtotal);
    debugPrint("\n sync_c331_device_frame_lock_vbyrx2 over vtotal = %d\n", vtotal);
}

