#include "platform/i2c.h"
#include "platform/platform.h"
#include "platform/sim_inputs.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace i2c {
namespace {

constexpr int SIM_FD_BASE = 0x50000000;

struct Board {
    std::shared_ptr<sim::Mux> mux;
    std::shared_ptr<sim::RegisterDevice> eeprom[board::INPUTS];
    std::shared_ptr<sim::RegisterDevice> hotplug;
    std::shared_ptr<sim::RegisterDevice> audio;
    std::shared_ptr<sim::ReceiverDevice> receiver[board::INPUTS];
    std::shared_ptr<sim::RegisterDevice> transmitter;
    std::shared_ptr<sim::RegisterDevice> check;
};

struct SimState {
    std::mutex mutex;          // guards the maps and the board
    std::mutex busMutex;       // one transfer at a time, as on a real bus
    std::map<uint8_t, std::shared_ptr<sim::Device>> devices;
    std::map<uint8_t, unsigned> failures;
    Board board;
    bool built = false;
};

std::atomic<testing::KernelTransfer> g_kernelTransfer{nullptr};

SimState &simState()
{
    static SimState s;
    return s;
}

void buildBoardLocked(SimState &s)
{
    s.devices.clear();
    s.failures.clear();
    s.board.mux = std::make_shared<sim::Mux>();
    for (int p = 0; p < board::INPUTS; ++p) {
        s.board.eeprom[p] = std::make_shared<sim::RegisterDevice>(256, 8);
        for (int r = 0; r < 256; ++r)
            s.board.eeprom[p]->setReg(r, 0xFF);   // erased EEPROM
        s.board.mux->attach(p, board::EDID_EEPROM, s.board.eeprom[p]);
        s.board.receiver[p] = std::make_shared<sim::ReceiverDevice>(p);
        s.devices[board::RECEIVER[p]] = s.board.receiver[p];
    }
    s.board.transmitter = std::make_shared<sim::RegisterDevice>(256);
    s.board.check = std::make_shared<sim::RegisterDevice>(256);
    s.devices[board::HDMI_TX] = s.board.transmitter;
    s.devices[board::CHECK_DEVICE] = s.board.check;
    s.board.hotplug = std::make_shared<sim::RegisterDevice>(8);
    s.board.hotplug->setReg(board::HOTPLUG_OUTPUT_REG, 0x3F);
    s.board.audio = std::make_shared<sim::RegisterDevice>(4);
    s.devices[board::EDID_MUX] = s.board.mux;
    s.devices[board::HOTPLUG_PORT] = s.board.hotplug;
    s.devices[board::AUDIO_SWITCH] = s.board.audio;
    s.built = true;
}

SimState &simBoard()
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.built)
        buildBoardLocked(s);
    return s;
}

// The device answering `addr8`: on the bus itself, or behind the mux.
std::shared_ptr<sim::Device> findLocked(SimState &s, uint8_t addr8)
{
    auto it = s.devices.find(addr8);
    if (it != s.devices.end())
        return it->second;
    for (auto &d : s.devices) {
        auto mux = std::dynamic_pointer_cast<sim::Mux>(d.second);
        if (mux) {
            auto dev = mux->find(addr8);
            if (dev)
                return dev;
        }
    }
    return nullptr;
}

bool simTransfer(Msg *msgs, unsigned n)
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> bus(s.busMutex);
    for (unsigned i = 0; i < n; ++i) {
        uint8_t addr = msgs[i].addr8 & 0xFE;
        std::shared_ptr<sim::Device> dev;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            auto f = s.failures.find(addr);
            if (f != s.failures.end() && f->second > 0) {
                --f->second;
                return false;
            }
            dev = findLocked(s, addr);
        }
        if (!dev)
            return false;
        bool ok = msgs[i].read ? dev->read(msgs[i].buf, msgs[i].len) : dev->write(msgs[i].buf, msgs[i].len);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

int open(const std::string &absolute)
{
    if (!isSim())
        return ::open(path(absolute).c_str(), O_RDWR | O_CLOEXEC);
    simBoard();
    return SIM_FD_BASE;
}

void close(int fd)
{
    if (!isSim() && fd >= 0)
        ::close(fd);
}

bool transfer(int fd, Msg *msgs, unsigned n)
{
    if (fd < 0 || n == 0)
        return false;
    if (isSim())
        return fd == SIM_FD_BASE && simTransfer(msgs, n);
    std::vector<i2c_msg> kmsgs(n);
    for (unsigned i = 0; i < n; ++i) {
        kmsgs[i].addr = msgs[i].addr8 >> 1;
        kmsgs[i].flags = msgs[i].read ? I2C_M_RD : 0;
        kmsgs[i].len = msgs[i].len;
        kmsgs[i].buf = msgs[i].buf;
    }
    i2c_rdwr_ioctl_data data{};
    data.msgs = kmsgs.data();
    data.nmsgs = n;
    const testing::KernelTransfer standIn = g_kernelTransfer.load();
    const int done = standIn ? standIn(fd, kmsgs.data(), n) : ::ioctl(fd, I2C_RDWR, &data);
    return done == static_cast<int>(n);
}

namespace testing {
void setKernelTransfer(KernelTransfer transfer)
{
    g_kernelTransfer = transfer;
}
} // namespace testing

namespace sim {

RegisterDevice::RegisterDevice(size_t size, size_t pageSize)
    : m_size(size ? size : 1), m_page(pageSize), m_regs(m_size, 0), m_history(m_size)
{
}

bool RegisterDevice::write(const uint8_t *data, size_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (len == 0)
        return true;   // address probe
    m_ptr = data[0] % m_size;
    if (len > 1)
        ++m_writes;
    size_t pageStart = m_page ? (m_ptr / m_page) * m_page : 0;
    for (size_t i = 1; i < len; ++i) {
        m_regs[m_ptr] = data[i];
        std::deque<uint8_t> &h = m_history[m_ptr];
        h.push_back(data[i]);
        if (h.size() > HISTORY_LIMIT)
            h.pop_front();
        if (m_page)   // an EEPROM wraps within its page
            m_ptr = pageStart + (m_ptr + 1 - pageStart) % m_page;
        else
            m_ptr = (m_ptr + 1) % m_size;
    }
    return true;
}

bool RegisterDevice::read(uint8_t *data, size_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < len; ++i) {
        data[i] = m_regs[m_ptr];
        m_ptr = (m_ptr + 1) % m_size;
    }
    return true;
}

uint8_t RegisterDevice::reg(size_t r) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return r < m_size ? m_regs[r] : 0;
}

void RegisterDevice::setReg(size_t r, uint8_t v)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (r < m_size)
        m_regs[r] = v;
}

std::vector<uint8_t> RegisterDevice::bytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_regs;
}

unsigned RegisterDevice::writes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

std::vector<uint8_t> RegisterDevice::history(size_t r) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return r < m_size ? std::vector<uint8_t>(m_history[r].begin(), m_history[r].end()) : std::vector<uint8_t>{};
}

bool Mux::write(const uint8_t *data, size_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (len >= 1)
        m_control = data[len - 1];
    return true;
}

bool Mux::read(uint8_t *data, size_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(data, data + len, m_control);
    return true;
}

void Mux::attach(int channel, uint8_t addr8, std::shared_ptr<Device> dev)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.push_back({{channel, static_cast<uint8_t>(addr8 & 0xFE)}, std::move(dev)});
}

uint8_t Mux::control() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_control;
}

std::shared_ptr<Device> Mux::find(uint8_t addr8) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Device> found;
    for (const auto &d : m_devices) {
        if (d.first.second != (addr8 & 0xFE) || d.first.first < 0 || d.first.first > 7)
            continue;
        if (!(m_control & (1u << d.first.first)))
            continue;
        if (found)
            return nullptr;   // two devices answer: the transfer is garbage
        found = d.second;
    }
    return found;
}

std::shared_ptr<Device> Mux::onChannel(int channel, uint8_t addr8) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &d : m_devices)
        if (d.first.first == channel && d.first.second == (addr8 & 0xFE))
            return d.second;
    return nullptr;
}

void attach(uint8_t addr8, std::shared_ptr<Device> dev)
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.devices[addr8 & 0xFE] = std::move(dev);
}

std::shared_ptr<Device> attached(uint8_t addr8)
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.devices.find(addr8 & 0xFE);
    return it == s.devices.end() ? nullptr : it->second;
}

void reset()
{
    {
        SimState &s = simState();
        std::lock_guard<std::mutex> lock(s.mutex);
        buildBoardLocked(s);
    }
    ::platform::sim::inputs::reset();
}

void failTransfers(uint8_t addr8, unsigned count)
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failures[addr8 & 0xFE] = count;
}

std::shared_ptr<RegisterDevice> edidEeprom(int input)
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    return input >= 0 && input < board::INPUTS ? s.board.eeprom[input] : nullptr;
}

std::shared_ptr<RegisterDevice> hotplugPort()
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.board.hotplug;
}

std::shared_ptr<RegisterDevice> audioSwitch()
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.board.audio;
}

std::shared_ptr<RegisterDevice> transmitter()
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.board.transmitter;
}

std::shared_ptr<RegisterDevice> checkDevice()
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.board.check;
}

std::shared_ptr<ReceiverDevice> receiver(int input)
{
    SimState &s = simBoard();
    std::lock_guard<std::mutex> lock(s.mutex);
    return input >= 0 && input < board::INPUTS ? s.board.receiver[input] : nullptr;
}

ReceiverDevice::ReceiverDevice(int input) : m_input(input) {}

bool ReceiverDevice::write(const uint8_t *data, size_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (len == 0)
        return true;
    m_ptr = data[0];
    for (size_t i = 1; i < len; ++i) {
        m_regs[m_ptr] = data[i];
        m_ptr = (m_ptr + 1) % sizeof m_regs;
    }
    return true;
}

bool ReceiverDevice::read(uint8_t *data, size_t len)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    refreshLocked();
    ++m_reads;
    for (size_t i = 0; i < len; ++i) {
        data[i] = m_regs[m_ptr];
        m_ptr = (m_ptr + 1) % sizeof m_regs;
    }
    return true;
}

unsigned ReceiverDevice::reads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reads;
}

void ReceiverDevice::refreshLocked()
{
    std::fill(m_regs, m_regs + rx::BLOCK_SIZE, 0);
    const ::platform::sim::inputs::Source source = ::platform::sim::inputs::current(m_input);
    if (!source.plugged)
        return;
    const ::platform::sim::inputs::Timing t = ::platform::sim::inputs::timingOf(m_input, source);
    auto word = [this](uint8_t reg, uint32_t v, int bytes) {
        for (int b = 0; b < bytes; ++b)
            m_regs[reg + b] = static_cast<uint8_t>(v >> (8 * b));
    };
    m_regs[rx::STATUS] = static_cast<uint8_t>(rx::STATUS_SIGNAL | rx::STATUS_STABLE | rx::STATUS_HPOL |
                                              rx::STATUS_VPOL | (t.interlaced ? rx::STATUS_INTERLACED : 0) |
                                              (t.dualPixel ? rx::STATUS_DUAL_PIXEL : 0));
    m_regs[rx::LANES] = t.lanes;
    word(rx::HACT, t.hact, 2);
    word(rx::HSYNC, t.hsync, 2);
    word(rx::HBACK, t.hback, 2);
    word(rx::HTOTAL, t.htotal, 2);
    word(rx::VACT, t.vact, 2);
    word(rx::VSYNC, t.vsync, 2);
    word(rx::VBACK, t.vback, 2);
    word(rx::VTOTAL, t.vtotal, 2);
    word(rx::PCLK_KHZ, t.pclkKhz, 3);
}

} // namespace sim
} // namespace i2c
} // namespace platform
