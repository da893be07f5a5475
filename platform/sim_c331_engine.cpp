#include "platform/sim_c331_engine.h"

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sim_chip_memory.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace sim {
namespace {

constexpr uint8_t COMMAND = 0x08, FILL = 0x0B, SOURCE = 0x0D, DEST = 0x11, STATUS = 0x17, DPITCH = 0x1B,
                  SPITCH = 0x1C, WIDTH = 0x1E, HEIGHT = 0x20, PSCALE = 0x22, COUNT = 0x24, POINTER = 0x27,
                  POINTER_HIGH = 0x28, LIST_DATA = 0x29, MODE = 0x2A;
constexpr uint8_t CMD_FILL = 1, CMD_COPY = 2, CMD_DRAW = 3;
constexpr uint8_t PALETTE_BANK = 0x09, PALETTE_INDEX = 0x1F, PALETTE_DATA = 0x20;
constexpr uint8_t GATE_BANK = 0xFF, GATE_SUB = 0x01;
constexpr uint32_t CHAR_ENTRY = 5;
constexpr size_t LOG_FILE_LIMIT = 8u << 20;

uint32_t le16(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t *p) { return le16(p) | le16(p + 2) << 16; }

uint32_t pitch(uint8_t units, bool wide) { return uint32_t(units) * (wide ? 512 : 128); }

std::string describe(const SimC331Engine::Op &op)
{
    char head[160];
    switch (op.kind) {
    case SimC331Engine::Op::Fill:
        std::snprintf(head, sizeof head, "fill dest=%08X w=%u h=%u pitch=%u value=%02X", op.destination, op.width,
                      op.height, op.destinationPitch, op.value);
        return head;
    case SimC331Engine::Op::Copy:
        std::snprintf(head, sizeof head, "copy src=%08X dest=%08X w=%u h=%u spitch=%u dpitch=%u", op.source,
                      op.destination, op.width, op.height, op.sourcePitch, op.destinationPitch);
        return head;
    case SimC331Engine::Op::Draw:
        break;
    }
    std::snprintf(head, sizeof head, "draw dest=%08X font=%08X mode=%02X height=%02X chars=", op.destination,
                  op.source, op.mode, op.charHeight);
    std::string line = head;
    for (const SimC331Engine::Char &c : op.chars) {
        char entry[24];
        std::snprintf(entry, sizeof entry, " %04X:%02X:%02X:%02X", c.glyph, c.fg, c.bg, c.width);
        line += entry;
    }
    return line;
}

} // namespace

SimC331Engine::SimC331Engine(SimChipMemory &memory) : m_memory(memory) {}

SimC331Engine::~SimC331Engine()
{
    if (m_logFd >= 0)
        ::close(m_logFd);
}

void SimC331Engine::write(const ChipRegisters &regs, uint8_t bank, uint8_t sub, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (bank == PALETTE_BANK && sub == PALETTE_INDEX) {
        m_palettePosition = value * 3u;
    } else if (bank == PALETTE_BANK && sub == PALETTE_DATA) {
        if (regs[GATE_BANK][GATE_SUB] == 1)
            m_memory.writePaletteAt(m_palettePosition++, &value, 1);
        else
            ++m_paletteDropped;
    } else if (bank == BANK && sub == POINTER_HIGH) {
        m_listPointer = uint16_t(le16(&regs[BANK][POINTER]));
    } else if (bank == BANK && sub == LIST_DATA) {
        m_memory.writeCharList(m_listPointer++, &value, 1);
    } else if (bank == BANK && sub == COMMAND && value != 0) {
        run(regs, value);
    }
}

bool SimC331Engine::read(uint8_t bank, uint8_t sub, uint8_t &value)
{
    if (bank != BANK || sub != STATUS)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    bool busy = m_stuck || m_busy > 0;
    if (m_busy > 0)
        --m_busy;
    value = busy ? 1 : 0;
    return true;
}

void SimC331Engine::run(const ChipRegisters &regs, uint8_t command)
{
    const uint8_t *b4 = regs[BANK];
    Op op;
    op.destination = le32(&b4[DEST]);
    op.source = le32(&b4[SOURCE]);
    op.width = le16(&b4[WIDTH]) + 1;
    op.height = le16(&b4[HEIGHT]) + 1;
    op.destinationPitch = pitch(b4[DPITCH], b4[PSCALE] & 0x10);
    op.sourcePitch = pitch(b4[SPITCH], b4[PSCALE] & 0x20);
    switch (command) {
    case CMD_FILL:
        op.kind = Op::Fill;
        op.value = b4[FILL];
        for (uint64_t row = 0; row < op.height; ++row)
            m_memory.fill(op.destination + row * op.destinationPitch, op.value, op.width);
        break;
    case CMD_COPY:
        op.kind = Op::Copy;
        for (uint64_t row = 0; row < op.height; ++row) {
            const std::vector<uint8_t> line = m_memory.read(op.source + row * op.sourcePitch, op.width);
            m_memory.write(op.destination + row * op.destinationPitch, line.data(), op.width);
        }
        break;
    case CMD_DRAW: {
        op.kind = Op::Draw;
        op.mode = b4[MODE];
        op.charHeight = m_memory.charList(HEIGHT_ENTRY, 1)[0];
        const uint32_t count = b4[COUNT] + 1u;
        const std::vector<uint8_t> list = m_memory.charList(0, count * CHAR_ENTRY);
        for (uint32_t k = 0; k < count; ++k) {
            const uint8_t *e = &list[k * CHAR_ENTRY];
            op.chars.push_back(Char{uint16_t(le16(e)), e[2], e[3], e[4]});
        }
        break;
    }
    default:
        return;   // no such command: the engine stays idle
    }
    m_busy = m_busyPolls;
    record(std::move(op));
}

void SimC331Engine::record(Op op)
{
    if (m_logFd >= 0) {
        const std::string line = describe(op) + "\n";
        if (m_logBytes + line.size() > LOG_FILE_LIMIT && ::ftruncate(m_logFd, 0) == 0)
            m_logBytes = 0;
        if (::write(m_logFd, line.data(), line.size()) == ssize_t(line.size()))
            m_logBytes += line.size();
        else
            ::close(m_logFd), m_logFd = -1;   // the log is an aid; the engine goes on without it
    }
    m_ops.push_back(std::move(op));
    if (m_ops.size() > m_opLimit)
        m_ops.pop_front();
}

bool SimC331Engine::attachLog(const std::string &absolute)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_logFd >= 0)
        ::close(m_logFd);
    ensureDir("/sim");
    m_logFd = files::openForWriting(absolute, O_WRONLY | O_TRUNC | O_APPEND);
    m_logBytes = 0;
    return m_logFd >= 0;
}

std::vector<SimC331Engine::Op> SimC331Engine::ops() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<Op>(m_ops.begin(), m_ops.end());
}

std::vector<SimC331Engine::Op> SimC331Engine::draws() const
{
    std::vector<Op> out;
    for (Op &op : ops())
        if (op.kind == Op::Draw)
            out.push_back(std::move(op));
    return out;
}

void SimC331Engine::clearOps()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ops.clear();
}

void SimC331Engine::setOpLimit(size_t n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_opLimit = std::max<size_t>(n, 1);
    while (m_ops.size() > m_opLimit)
        m_ops.pop_front();
}

unsigned SimC331Engine::paletteWritesDropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_paletteDropped;
}

void SimC331Engine::setBusyPolls(unsigned reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyPolls = reads;
}

void SimC331Engine::setStuck(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stuck = on;
}

} // namespace sim
} // namespace platform
