#include "platform/sim_c331_inputs.h"

#include "platform/devices.h"

#include <cmath>

namespace platform {
namespace sim {
namespace {

constexpr uint8_t MEASURE_BANK = 0xAE;
constexpr uint8_t ACTIVE_BANK = 0xAF;
constexpr uint8_t LOCK_BANK = 0xB2;
constexpr uint8_t LOCK_SUB = 0x63;
constexpr uint8_t LOCK_BITS = 0xA0;   // bit 5 receiver 0, bit 7 receiver 1
constexpr uint8_t FIELD_BANK = 0xAB;
constexpr uint8_t FIELD_SUB = 0x47;
constexpr uint8_t WRITER_STOP = 2;
constexpr int HDMI_PORTS = 4;
constexpr int VBO_RECEIVERS = 2;
constexpr int SUBCHANNELS = 4;

enum What { HTOTAL, VTOTAL, FHW, FVM, ACTHW };

// Where the measurement unit keeps each value: HDMI port p at hdmi + hdmiStep
// * p, V-by-One receiver k at vbo + vboStep * k, its lock sub-channel i a
// further subStep * i on (subStep 0: no sub-channels).
struct Layout {
    What what;
    uint8_t bank;
    uint8_t hdmi, hdmiStep;
    uint8_t vbo, vboStep;
    uint8_t width, subStep;
};

const Layout LAYOUT[] = {
    {HTOTAL, MEASURE_BANK, 0x08, 2, 0x10, 8, 2, 0},
    {VTOTAL, MEASURE_BANK, 0x20, 2, 0x28, 8, 2, 0},
    {FHW, MEASURE_BANK, 0x38, 2, 0x40, 8, 2, 2},
    {FVM, MEASURE_BANK, 0x50, 3, 0x5C, 12, 3, 3},
    {ACTHW, ACTIVE_BANK, 0x08, 2, 0x10, 8, 2, 0},
};

struct Place {
    const Layout *layout = nullptr;
    int port = 0;
    int subchannel = 0;
    int byte = 0;
};

bool within(uint8_t sub, int start, int width, Place &at)
{
    if (sub < start || sub >= start + width)
        return false;
    at.byte = sub - start;
    return true;
}

bool locate(uint8_t bank, uint8_t sub, Place &at)
{
    for (const Layout &l : LAYOUT) {
        if (l.bank != bank)
            continue;
        at.layout = &l;
        for (int p = 0; p < HDMI_PORTS; ++p) {
            at.port = p;
            if (within(sub, l.hdmi + l.hdmiStep * p, l.width, at))
                return true;
        }
        const int subchannels = l.subStep ? SUBCHANNELS : 1;
        for (int k = 0; k < VBO_RECEIVERS; ++k) {
            at.port = HDMI_PORTS + k;
            for (at.subchannel = 0; at.subchannel < subchannels; ++at.subchannel)
                if (within(sub, l.vbo + l.vboStep * k + l.subStep * at.subchannel, l.width, at))
                    return true;
        }
        at.subchannel = 0;
    }
    return false;
}

// Register value of a locked measurement. The registers of the periods and
// of the line total hold the count minus one.
uint32_t measured(What what, const SimC331Inputs::Signal &s)
{
    const double clock = devices::CHIP_MEASURE_CLOCK_HZ;
    switch (what) {
    case HTOTAL: return s.htotal - 1;
    case VTOTAL: return s.vtotal;
    case FHW: return static_cast<uint32_t>(std::lround(clock / (s.rate * s.vtotal))) - 1;
    case FVM: return static_cast<uint32_t>(std::lround(clock / s.rate)) - 1;
    case ACTHW: return s.hactive;
    }
    return 0;
}

// V-by-One sub-channels carry two lanes each; at least one is in use.
bool subchannelLocked(int subchannel, uint8_t lanes)
{
    return subchannel == 0 || subchannel < lanes / 2;
}

void countDown(uint32_t &busy)
{
    if (busy && busy != SimC331Inputs::NEVER)
        --busy;
}

} // namespace

void SimC331Inputs::plug(int port, const Signal &signal)
{
    if (port < 0 || port >= PORTS || signal.htotal == 0 || signal.vtotal == 0 || !(signal.rate > 0))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ports[port].plugged = true;
    m_ports[port].signal = signal;
}

void SimC331Inputs::unplug(int port)
{
    if (port < 0 || port >= PORTS)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ports[port].plugged = false;
}

bool SimC331Inputs::plugged(int port) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return port >= 0 && port < PORTS && m_ports[port].plugged;
}

void SimC331Inputs::setMeasureBusy(int port, uint32_t reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (port >= 0 && port < PORTS)
        m_ports[port].measureBusy = reads;
}

void SimC331Inputs::setLockBusy(int k, uint32_t reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (k >= 0 && k < VBO_RECEIVERS)
        m_ports[HDMI_PORTS + k].lockBusy = reads;
}

void SimC331Inputs::setFrameLost(int port, uint8_t mask)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (port >= HDMI_PORTS && port < PORTS)
        m_ports[port].frameLost = mask;
}

void SimC331Inputs::setFieldBusy(int i, uint32_t reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (i >= 0 && i < FIELD_REGS)
        m_fieldBusy[i] = reads;
}

void SimC331Inputs::pinWriteSlot(int i, int slot)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (i >= 0 && i < FIELD_REGS)
        m_pinnedSlot[i] = slot >= 0 && slot < 4 ? slot : -1;
}

void SimC331Inputs::writeControl(int i, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (i < 0 || i >= FIELD_REGS)
        return;
    const bool stop = value == WRITER_STOP;
    if (stop && !m_writerStopped[i])
        m_stoppedSlot[i] = m_field[i] & 3;
    m_writerStopped[i] = stop;
}

bool SimC331Inputs::read(uint8_t bank, uint8_t sub, uint8_t stored, uint8_t &value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (bank == LOCK_BANK && sub == LOCK_SUB) {
        value = static_cast<uint8_t>((stored & ~LOCK_BITS) | lockBits());
        return true;
    }
    if (bank == FIELD_BANK && sub >= FIELD_SUB && sub < FIELD_SUB + FIELD_REGS) {
        value = fieldByte(sub - FIELD_SUB, stored);
        return true;
    }
    bool owned = false;
    const uint8_t measured = measurementByte(bank, sub, owned);
    if (owned)
        value = measured;
    return owned;
}

uint8_t SimC331Inputs::measurementByte(uint8_t bank, uint8_t sub, bool &owned)
{
    Place at;
    owned = locate(bank, sub, at);
    if (!owned)
        return 0;
    Port &port = m_ports[at.port];
    const bool frameLost = at.layout->what == FVM && (port.frameLost >> at.subchannel & 1);
    const bool locked = port.plugged && port.measureBusy == 0 && !frameLost &&
                        subchannelLocked(at.subchannel, port.signal.lanes);
    // One read of the frame period is one measurement of the port.
    if (at.layout->what == FVM && at.subchannel == 0 && at.byte == 0)
        countDown(port.measureBusy);
    if (!locked)
        return 0xFF;
    uint32_t v = measured(at.layout->what, port.signal);
    // A period beyond the register's width cannot be measured.
    if (at.layout->width < 4 && v >> (8 * at.layout->width))
        return 0xFF;
    return static_cast<uint8_t>(v >> (8 * at.byte));
}

uint8_t SimC331Inputs::lockBits()
{
    uint8_t bits = 0;
    for (int k = 0; k < VBO_RECEIVERS; ++k) {
        Port &port = m_ports[HDMI_PORTS + k];
        if (port.plugged && port.lockBusy == 0)
            bits |= static_cast<uint8_t>(1u << (5 + 2 * k));
        countDown(port.lockBusy);
    }
    return bits;
}

uint8_t SimC331Inputs::fieldByte(int i, uint8_t stored)
{
    const uint8_t f = m_field[i] & 3;
    if (m_fieldBusy[i])
        countDown(m_fieldBusy[i]);
    else
        m_field[i] = static_cast<uint8_t>((f + 1) & 3);
    const int slot = m_pinnedSlot[i] >= 0 ? m_pinnedSlot[i] : m_writerStopped[i] ? m_stoppedSlot[i] : f;
    return static_cast<uint8_t>((stored & 0xF0) | (slot << 2) | f);
}

} // namespace sim
} // namespace platform
