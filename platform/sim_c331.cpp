#include "platform/sim_c331.h"

#include "platform/files.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace sim {

SimC331::SimC331()
{
    std::memset(m_regs, 0, sizeof(m_regs));
    m_regs[ID_BANK][ID_SUB] = ID_VALUE;
    // Input-frame flags: every input channel has seen its vertical sync.
    m_status[0x05 << 8 | 0x22] = Status{0xFF, 0x00, 0};
}

void SimC331::transfer(const spi::Xfer &x)
{
    // The protocol is made of 2-byte frames; a longer transfer is taken as a
    // run of them, a trailing odd byte is ignored.
    for (uint32_t i = 0; i + 1 < x.len; i += 2) {
        uint8_t b0 = x.tx ? x.tx[i] : 0;
        uint8_t b1 = x.tx ? x.tx[i + 1] : 0;
        frame(b0, b1, x.rx ? x.rx + i : nullptr);
    }
}

void SimC331::frame(uint8_t b0, uint8_t b1, uint8_t *rx)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t sub = b0 & 0x7F;
    if (b0 & 0x80) {
        if (sub == 0) {
            m_bank = b1;
            record(true, true, m_bank, 0, b1);
        } else {
            if (!(m_bank == ID_BANK && sub == ID_SUB))
                store(m_bank, sub, b1);
            record(true, false, m_bank, sub, b1);
            noteFilterWrite(m_bank, sub, b1);
            noteWriterControl(m_bank, sub, b1);
            onWrite(m_bank, sub, b1);
        }
        if (rx) {
            rx[0] = 0;
            rx[1] = 0;
        }
        return;
    }
    uint8_t v = readLocked(m_bank, sub);
    record(false, false, m_bank, sub, v);
    if (rx) {
        rx[0] = 0;
        rx[1] = v;
    }
}

uint8_t SimC331::readLocked(uint8_t bank, uint8_t sub)
{
    if (sub == 0)
        return m_bank;
    if (bank == ID_BANK && sub == ID_SUB) {
        ++m_identityReads;
        if (!m_identityQueue.empty()) {
            uint8_t v = m_identityQueue.front();
            m_identityQueue.pop_front();
            return v;
        }
        return m_identity;
    }
    uint8_t frames;
    if (outputFrameStatus(bank, sub, frames))
        return frames;
    auto st = m_status.find(uint16_t(bank << 8 | sub));
    if (st != m_status.end()) {
        Status &s = st->second;
        if (s.busyReads == 0)
            return s.done;
        if (s.busyReads != NEVER)
            --s.busyReads;
        return s.busy;
    }
    uint8_t v = m_regs[bank][sub];
    if (m_inputs.read(bank, sub, v, v))
        return v;
    onRead(bank, sub, v);
    return v;
}

// Input channel k's memory write control: bank 0x10 + 16 k, sub 0x09.
void SimC331::noteWriterControl(uint8_t bank, uint8_t sub, uint8_t value)
{
    constexpr uint8_t WRITE_CTRL_SUB = 0x09;
    if (sub != WRITE_CTRL_SUB || bank < 0x10 || bank > 0x80 || (bank & 0x0F) != 0)
        return;
    m_inputs.writeControl(bank / 16 - 1, value);
}

void SimC331::onWrite(uint8_t bank, uint8_t sub, uint8_t value)
{
    m_flash.write(m_regs, bank, sub, value);
    m_engine.write(m_regs, bank, sub, value);
}

bool SimC331::onRead(uint8_t bank, uint8_t sub, uint8_t &value)
{
    return m_flash.read(bank, sub, value) || m_engine.read(bank, sub, value);
}

bool SimC331::attachRegisterFile(const std::string &absolute)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_mirror)
        return true;
    ensureDir("/sim");
    const int fd = files::openForWriting(absolute, O_RDWR | O_TRUNC);
    if (fd < 0)
        return false;
    void *map = MAP_FAILED;
    if (::ftruncate(fd, sizeof(m_regs)) == 0)
        map = ::mmap(nullptr, sizeof(m_regs), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED)
        return false;
    m_mirror = static_cast<uint8_t *>(map);
    std::memcpy(m_mirror, m_regs, sizeof(m_regs));
    return true;
}

SimC331::~SimC331()
{
    if (m_mirror)
        ::munmap(m_mirror, sizeof(m_regs));
}

void SimC331::record(bool write, bool select, uint8_t bank, uint8_t sub, uint8_t value)
{
    m_log.push_back(Frame{m_seq++, write, select, bank, sub, value});
    if (m_log.size() > m_logLimit)
        m_log.pop_front();
}

uint8_t SimC331::reg(uint8_t bank, uint8_t sub) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_regs[bank][sub & 0x7F];
}

void SimC331::setReg(uint8_t bank, uint8_t sub, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    store(bank, sub & 0x7F, value);
}

void SimC331::store(uint8_t bank, uint8_t sub, uint8_t value)
{
    m_regs[bank][sub] = value;
    if (m_mirror)
        m_mirror[bank * 128u + sub] = value;
}

uint32_t SimC331::value(uint8_t bank, uint8_t sub, unsigned width) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t v = 0;
    for (unsigned i = 0; i < width && i < 4; ++i)
        v |= uint32_t(m_regs[bank][(sub + i) & 0x7F]) << (8 * i);
    return v;
}

uint32_t SimC331::value(uint32_t descriptor, int offset) const
{
    uint8_t bank = uint8_t(((descriptor >> 16) & 0xFF) + offset);
    return value(bank, uint8_t((descriptor >> 8) & 0x7F), descriptor & 0xFF);
}

uint8_t SimC331::currentBank() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bank;
}

void SimC331::setIdentity(uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_identity = value;
}

void SimC331::queueIdentity(const std::vector<uint8_t> &answers)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_identityQueue.insert(m_identityQueue.end(), answers.begin(), answers.end());
}

unsigned SimC331::identityReads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_identityReads;
}

void SimC331::defineStatus(uint8_t bank, uint8_t sub, uint8_t done, uint8_t busy)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status[uint16_t(bank << 8 | sub)] = Status{done, busy, 0};
}

void SimC331::setBusy(uint8_t bank, uint8_t sub, uint32_t reads)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_status.find(uint16_t(bank << 8 | sub));
    if (it != m_status.end())
        it->second.busyReads = reads;
}

uint64_t SimC331::mark() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_seq;
}

std::vector<SimC331::Frame> SimC331::framesSince(uint64_t mark) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Frame> out;
    for (const Frame &f : m_log)
        if (f.seq >= mark)
            out.push_back(f);
    return out;
}

std::vector<uint8_t> SimC331::writeHistory(uint8_t bank, uint8_t sub, uint64_t since) const
{
    std::vector<uint8_t> out;
    for (const Frame &f : framesSince(since))
        if (f.write && !f.select && f.bank == bank && f.sub == sub)
            out.push_back(f.value);
    return out;
}

unsigned SimC331::bankSelects(uint64_t since) const
{
    unsigned n = 0;
    for (const Frame &f : framesSince(since))
        n += f.select ? 1 : 0;
    return n;
}

void SimC331::clearLog()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

void SimC331::setRecordLimit(size_t n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logLimit = std::max<size_t>(n, 1);
    while (m_log.size() > m_logLimit)
        m_log.pop_front();
    while (m_filterLoads.size() > m_logLimit)
        m_filterLoads.pop_front();
    m_flash.setOpLimit(m_logLimit);
    m_engine.setOpLimit(m_logLimit);
}

} // namespace sim
} // namespace platform
