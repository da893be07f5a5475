#include "platform/sim_c331_flash.h"

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sim_chip_memory.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace sim {
namespace {

// Controller registers of bank 4.
constexpr uint8_t CTL = 0x47, CMD = 0x48, PROGRAM_OP = 0x49, READ_OP = 0x4A, COMMAND_OP = 0x4B,
                  WREN_OP = 0x4C, ADDRESS = 0x4E, ADDRESS_LAST = 0x51, DATA = 0x52, DTCTL = 0x53,
                  STAT = 0x54, RDSR = 0x55, DMA_LENGTH = 0x56, DMA_TARGET = 0x5A, MODE = 0x5F;
// Where the DMA destinations are set.
constexpr uint8_t MEM_DEST = 0x11, LIST_POINTER = 0x27, PALETTE_BANK = 0x09, PALETTE_INDEX = 0x1F;

constexpr uint8_t CTL_RESET = 0x80, CTL_REGISTERS = 0x31, CTL_ERASE = 0x01, CTL_DMA = 0x33, CTL_DMA_LIST = 0x37;
constexpr uint8_t MODE_REGISTERS = 1, MODE_DMA = 2;
constexpr uint8_t OP_PROGRAM = 0x12, OP_READ = 0x0C, OP_WREN = 0x06, OP_WRDI = 0x04;

uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

uint32_t eraseSize(uint8_t opcode)
{
    switch (opcode) {
    case 0x20: return 0x1000;
    case 0x52: return 0x8000;
    case 0xD8: return 0x10000;
    default: return 0;
    }
}

} // namespace

struct SimC331Flash::Sector {
    uint8_t bytes[SECTOR];
};

SimC331Flash::SimC331Flash(SimChipMemory &memory) : m_memory(memory) {}

SimC331Flash::~SimC331Flash()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

// ---- register traffic ----

void SimC331Flash::write(const ChipRegisters &regs, uint8_t bank, uint8_t sub, uint8_t value)
{
    if (bank != BANK)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (sub) {
    case CTL:
        if (value == CTL_RESET) {
            if (!m_buffer.empty())
                ignore("page never closed: " + std::to_string(m_buffer.size()) + " bytes dropped");
            m_buffer.clear();
            m_reading = false;
        }
        break;
    case CMD:
        command(regs, value);
        break;
    case ADDRESS_LAST:
        takeAddress(regs);
        break;
    case DATA:
        if (regs[BANK][CTL] == CTL_REGISTERS && regs[BANK][MODE] == MODE_REGISTERS)
            m_buffer.push_back(value);
        else
            ignore("data written outside program mode");
        break;
    case DTCTL:
        if (value & 1) {
            m_reading = true;
            m_readAddress = m_address;
            m_readBusy = m_busyPolls;
            Op op;
            op.kind = Op::Read;
            op.address = m_address;
            log(op);
        }
        break;
    default:
        break;
    }
}

bool SimC331Flash::read(uint8_t bank, uint8_t sub, uint8_t &value)
{
    if (bank != BANK)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto busy = [this](unsigned &count) {
        if (m_stuck)
            return true;
        if (count == 0)
            return false;
        --count;
        return true;
    };
    switch (sub) {
    case DATA:
        if (!m_reading)
            return false;
        value = cell(m_readAddress);
        m_readAddress = (m_readAddress + 1) % SIZE;
        if (!m_ops.empty() && m_ops.back().kind == Op::Read)
            ++m_ops.back().length;
        return true;
    case DTCTL:
        value = uint8_t((busy(m_readBusy) ? 0x80 : 0) | (m_buffer.empty() && !m_stuck ? 0x20 : 0));
        return true;
    case STAT:
        value = uint8_t((busy(m_dmaBusy) ? 0x01 : 0) | (busy(m_writeBusy) ? 0x02 : 0) | (busy(m_eraseBusy) ? 0x08 : 0));
        return true;
    case RDSR: {
        const bool wel = m_wel || m_welClearing > 0;
        m_welClearing -= m_welClearing > 0;
        value = uint8_t((busy(m_wip) ? 0x01 : 0) | (wel ? 0x02 : 0));
        return true;
    }
    default:
        return false;
    }
}

void SimC331Flash::command(const ChipRegisters &regs, uint8_t value)
{
    switch (value) {
    case 0: break;
    case 2: dma(regs); break;
    case 4: eraseBlock(regs); break;
    case 5: opcodeAlone(regs); break;
    default: ignore("unknown command " + std::to_string(value)); break;
    }
}

// A new address closes the page being collected: its bytes are programmed
// from the address they started at.
void SimC331Flash::takeAddress(const ChipRegisters &regs)
{
    programPage(regs);
    m_address = le32(&regs[BANK][ADDRESS]);
}

void SimC331Flash::programPage(const ChipRegisters &regs)
{
    if (m_buffer.empty())
        return;
    std::vector<uint8_t> bytes;
    bytes.swap(m_buffer);
    if (regs[BANK][PROGRAM_OP] != OP_PROGRAM || regs[BANK][WREN_OP] != OP_WREN) {
        ignore("page program without the program and write-enable opcodes");
        return;
    }
    Op op;
    op.kind = Op::Program;
    op.address = m_address % SIZE;
    op.length = uint32_t(bytes.size());
    const uint32_t base = op.address - op.address % PAGE;
    const uint32_t start = op.address % PAGE;
    op.pageWrapped = start + bytes.size() > PAGE;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint32_t a = base + (start + i) % PAGE;
        uint8_t &c = writableSector(a / SECTOR)[a % SECTOR];
        if ((c & bytes[i]) != bytes[i])
            op.overProgrammed = true;
        c &= bytes[i];
    }
    persist(base, PAGE);
    m_wel = m_welKept;
    m_writeBusy = m_wip = m_busyPolls;
    log(op);
}

void SimC331Flash::eraseBlock(const ChipRegisters &regs)
{
    const uint32_t size = eraseSize(regs[BANK][COMMAND_OP]);
    if (size == 0) {
        ignore("unknown opcode with address " + std::to_string(regs[BANK][COMMAND_OP]));
        return;
    }
    if (regs[BANK][CTL] != CTL_ERASE || regs[BANK][MODE] != MODE_REGISTERS || regs[BANK][WREN_OP] != OP_WREN) {
        ignore("erase outside erase mode");
        return;
    }
    Op op;
    op.kind = Op::Erase;
    op.address = (m_address % SIZE) / size * size;
    op.length = size;
    for (uint32_t s = op.address / SECTOR; s < (op.address + size) / SECTOR; ++s)
        m_sectors[s].reset();
    persist(op.address, size);
    m_wel = m_welKept;
    m_eraseBusy = m_wip = m_busyPolls;
    log(op);
}

void SimC331Flash::opcodeAlone(const ChipRegisters &regs)
{
    Op op;
    switch (regs[BANK][COMMAND_OP]) {
    case OP_WRDI:
        m_welClearing = m_wel && m_welKept ? m_busyPolls : 0;
        m_wel = false;
        op.kind = Op::WriteDisable;
        break;
    case OP_WREN:
        m_wel = true;
        op.kind = Op::WriteEnable;
        break;
    default:
        ignore("unknown opcode " + std::to_string(regs[BANK][COMMAND_OP]));
        return;
    }
    log(op);
}

void SimC331Flash::dma(const ChipRegisters &regs)
{
    const uint8_t *b4 = regs[BANK];
    Op op;
    op.kind = Op::Dma;
    op.address = m_address % SIZE;
    op.length = le32(&b4[DMA_LENGTH]) & 0x7FFFFFFF;
    op.target = b4[DMA_TARGET] & 0x0F;
    if (b4[MODE] != MODE_DMA || b4[READ_OP] != OP_READ) {
        ignore("DMA outside DMA mode");
        return;
    }
    if (b4[CTL] != (op.target == 1 ? CTL_DMA_LIST : CTL_DMA)) {
        ignore("DMA control does not match target " + std::to_string(op.target));
        return;
    }
    switch (op.target) {
    case 0: {
        op.destination = le32(&b4[MEM_DEST]);
        // Sector by sector, so that a font-sized copy stays cheap.
        for (uint32_t done = 0; done < op.length;) {
            const uint32_t a = (op.address + done) % SIZE;
            const uint32_t n = std::min(op.length - done, SECTOR - a % SECTOR);
            const uint8_t *s = sector(a / SECTOR);
            if (s)
                m_memory.write(uint64_t(op.destination) + done, s + a % SECTOR, n);
            else
                m_memory.fill(uint64_t(op.destination) + done, 0xFF, n);
            done += n;
        }
        break;
    }
    case 1:
    case 4: {
        std::vector<uint8_t> bytes(op.length);
        copyOut(op.address, op.length, bytes.data());
        if (op.target == 1) {
            op.destination = uint32_t(b4[LIST_POINTER]) | uint32_t(b4[LIST_POINTER + 1]) << 8;
            m_memory.writeCharList(uint16_t(op.destination), bytes.data(), op.length);
        } else {
            op.destination = regs[PALETTE_BANK][PALETTE_INDEX];
            m_memory.writePalette(uint8_t(op.destination), bytes.data(), op.length);
        }
        break;
    }
    default:
        ignore("unknown DMA target " + std::to_string(op.target));
        return;
    }
    m_dmaBusy = m_busyPolls;
    log(op);
}

void SimC331Flash::ignore(const std::string &reason)
{
    Op op;
    op.kind = Op::Ignored;
    op.address = m_address;
    op.reason = reason;
    log(op);
}

void SimC331Flash::log(Op op)
{
    m_ops.push_back(std::move(op));
    if (m_ops.size() > m_opLimit)
        m_ops.pop_front();
}

// ---- cells ----

const uint8_t *SimC331Flash::sector(uint32_t number) const
{
    auto it = m_sectors.find(number);
    if (it != m_sectors.end())
        return it->second ? it->second->bytes : nullptr;
    if (m_fd < 0)
        return nullptr;
    std::unique_ptr<Sector> s(new Sector);
    // Bytes past the end of the file read erased.
    const ssize_t got = ::pread(m_fd, s->bytes, SECTOR, off_t(number) * SECTOR);
    const size_t have = got > 0 ? size_t(got) : 0;
    std::memset(s->bytes + have, 0xFF, SECTOR - have);
    if (std::all_of(s->bytes, s->bytes + SECTOR, [](uint8_t v) { return v == 0xFF; }))
        s.reset();
    std::unique_ptr<Sector> &slot = m_sectors[number];
    slot = std::move(s);
    return slot ? slot->bytes : nullptr;
}

uint8_t *SimC331Flash::writableSector(uint32_t number)
{
    sector(number);
    std::unique_ptr<Sector> &slot = m_sectors[number];
    if (!slot) {
        slot.reset(new Sector);
        std::memset(slot->bytes, 0xFF, SECTOR);
    }
    return slot->bytes;
}

uint8_t SimC331Flash::cell(uint32_t address) const
{
    const uint8_t *s = sector(address % SIZE / SECTOR);
    return s ? s[address % SECTOR] : 0xFF;
}

void SimC331Flash::copyOut(uint32_t address, uint32_t len, uint8_t *out) const
{
    for (uint32_t done = 0; done < len;) {
        const uint32_t a = (address + done) % SIZE;
        const uint32_t n = std::min(len - done, SECTOR - a % SECTOR);
        const uint8_t *s = sector(a / SECTOR);
        if (s)
            std::memcpy(out + done, s + a % SECTOR, n);
        else
            std::memset(out + done, 0xFF, n);
        done += n;
    }
}

bool SimC331Flash::attachFile(const std::string &absolute)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fileReady = false;
    m_sectors.clear();
    m_file = absolute;
    if (!files::exists(absolute))
        return true;   // made on the first write
    m_fd = files::openForWriting(absolute, O_RDWR);
    return m_fd >= 0;
}

// The file is made full size (erased) on the first write, so that every
// address has its place in it.
bool SimC331Flash::openForWrite()
{
    if (m_fileReady)
        return true;
    if (m_fd < 0) {
        ensureDir("/sim");
        m_fd = files::openForWriting(m_file, O_RDWR);
    }
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return false;
    if (uint64_t(st.st_size) < SIZE && !files::fillHost(m_fd, uint64_t(st.st_size), SIZE, 0xFF))
        return false;
    m_fileReady = true;
    return true;
}

void SimC331Flash::persist(uint32_t address, uint32_t len)
{
    if (m_file.empty() || !openForWrite())
        return;
    std::vector<uint8_t> bytes(len);
    copyOut(address, len, bytes.data());
    if (::pwrite(m_fd, bytes.data(), len, off_t(address)) != ssize_t(len))
        ignore("flash file could not be written");
}

// ---- inspection ----

std::vector<uint8_t> SimC331Flash::contents(uint32_t address, uint32_t len) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(len);
    copyOut(address, len, out.data());
    return out;
}

void SimC331Flash::preset(uint32_t address, const std::vector<uint8_t> &data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < data.size(); ++i) {
        const uint32_t a = uint32_t((address + i) % SIZE);
        writableSector(a / SECTOR)[a % SECTOR] = data[i];
    }
    for (size_t done = 0; done < data.size();) {
        const uint32_t a = uint32_t((address + done) % SIZE);
        const uint32_t n = uint32_t(std::min<size_t>(data.size() - done, SIZE - a));
        persist(a, n);
        done += n;
    }
}

std::vector<SimC331Flash::Op> SimC331Flash::ops() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<Op>(m_ops.begin(), m_ops.end());
}

void SimC331Flash::clearOps()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ops.clear();
}

void SimC331Flash::setOpLimit(size_t n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_opLimit = std::max<size_t>(n, 1);
    while (m_ops.size() > m_opLimit)
        m_ops.pop_front();
}

void SimC331Flash::setBusyPolls(unsigned reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyPolls = reads;
}

void SimC331Flash::setStuck(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stuck = on;
}

void SimC331Flash::setWriteEnableKept(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_welKept = on;
}

} // namespace sim
} // namespace platform
