#include "platform/sim_fpga.h"

#include <cstring>
#include <utility>

namespace platform {
namespace simfpga {
namespace {

constexpr uint32_t RAM_LIMIT = 1u << 24;   // address bits 0..23
constexpr uint8_t READY_REG[2] = {129, 145};
constexpr uint8_t LINK_REG = 128;

uint32_t address(const uint8_t *tx) { return (uint32_t(tx[1]) << 16) | (uint32_t(tx[2]) << 8) | tx[3]; }

} // namespace

SimFpga::SimFpga()
{
    std::memset(m_regs, 0, sizeof m_regs);
    m_regs[80] = 3;
}

void SimFpga::transfer(const spi::Xfer &x)
{
    if (!x.tx || x.len < 3)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint8_t *tx = x.tx;
    uint8_t op = tx[0];
    if (op == 0x00) {
        regWrite(tx[1], tx[2]);
        record({OpKind::RegisterWrite, tx[1], 0, {tx[2]}});
        return;
    }
    if (op == 0x40) {
        if (x.rx)
            x.rx[2] = m_regs[tx[1]];
        return;
    }
    if (x.len < 4)
        return;
    if (op == 0x20) {
        uint32_t len = (uint32_t(tx[2]) << 8) | tx[3];
        if (len > x.len - 4)
            len = x.len - 4;
        record({OpKind::CardFrame, tx[1], 0, std::vector<uint8_t>(tx + 4, tx + 4 + len)});
        return;
    }
    if (op == 0x30) {
        uint8_t port = tx[1] & 1;
        if (x.rx && !m_replies[port].empty()) {
            const std::vector<uint8_t> &f = m_replies[port].front();
            uint32_t n = std::min<uint32_t>(uint32_t(f.size()), x.len - 4);
            std::memcpy(x.rx + 4, f.data(), n);
        }
        return;
    }
    uint8_t bank = op & 0x3F;
    uint32_t addr = address(tx);
    std::vector<uint8_t> &page = m_ram[bank];
    if ((op & 0xC0) == 0x80) {
        uint32_t len = x.len - 4;
        if (addr + len > RAM_LIMIT)
            return;
        if (page.size() < addr + len)
            page.resize(addr + len, 0);
        if (len)   // a write of no bytes is still an operation; the page may have none yet
            std::memcpy(page.data() + addr, tx + 4, len);
        record({OpKind::RamWrite, bank, addr, std::vector<uint8_t>(tx + 4, tx + 4 + len)});
    } else if ((op & 0xC0) == 0xC0 && x.rx && x.len > 5) {
        uint32_t len = x.len - 5;
        for (uint32_t i = 0; i < len; ++i)
            x.rx[5 + i] = addr + i < page.size() ? page[addr + i] : 0;
    }
}

void SimFpga::record(Op op)
{
    m_ops.push_back(std::move(op));
    if (m_ops.size() > LOG_LIMIT)
        m_ops.pop_front();
}

void SimFpga::regWrite(uint8_t r, uint8_t v)
{
    for (uint8_t port = 0; port < 2; ++port) {
        if (r == READY_REG[port] && v == 0) {
            if (!m_replies[port].empty())
                m_replies[port].pop_front();
            present(port);
            return;
        }
    }
    m_regs[r] = v;
}

void SimFpga::present(uint8_t port)
{
    uint8_t ready = READY_REG[port];
    if (m_replies[port].empty()) {
        m_regs[ready] = 0;
        m_regs[ready + 1] = 0;
        m_regs[ready + 2] = 0;
        return;
    }
    size_t n = m_replies[port].front().size();
    m_regs[ready] = 1;
    m_regs[ready + 1] = uint8_t(n >> 8);
    m_regs[ready + 2] = uint8_t(n);
}

uint8_t SimFpga::reg(uint8_t r) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_regs[r];
}

void SimFpga::setReg(uint8_t r, uint8_t v)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[r] = v;
}

std::vector<uint8_t> SimFpga::ram(uint8_t bank, uint32_t address, uint32_t len) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(len, 0);
    auto it = m_ram.find(bank);
    if (it == m_ram.end())
        return out;
    for (uint32_t i = 0; i < len; ++i)
        if (address + i < it->second.size())
            out[i] = it->second[address + i];
    return out;
}

void SimFpga::setRam(uint8_t bank, uint32_t address, const std::vector<uint8_t> &data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (address + data.size() > RAM_LIMIT)
        return;
    std::vector<uint8_t> &page = m_ram[bank];
    if (page.size() < address + data.size())
        page.resize(address + data.size(), 0);
    std::memcpy(page.data() + address, data.data(), data.size());
}

std::vector<Op> SimFpga::ops() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<Op>(m_ops.begin(), m_ops.end());
}

void SimFpga::clearOps()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ops.clear();
}

void SimFpga::setPortLink(uint8_t port, bool up)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint8_t bit = uint8_t(1u << (port & 1));
    m_regs[LINK_REG] = up ? uint8_t(m_regs[LINK_REG] | bit) : uint8_t(m_regs[LINK_REG] & ~bit);
}

void SimFpga::queueCardReply(uint8_t port, const std::vector<uint8_t> &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    port &= 1;
    m_replies[port].push_back(frame);
    if (m_replies[port].size() == 1)
        present(port);
}

} // namespace simfpga
} // namespace platform
