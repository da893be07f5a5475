#include "platform/spi.h"
#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <map>
#include <mutex>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {
namespace spi {
namespace {

// Simulated descriptors live far above anything the kernel hands out here.
constexpr int SIM_FD_BASE = 0x40000000;

struct SimState {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<sim::Device>> devices;   // by absolute program path
    std::map<std::string, std::pair<unsigned, int>> failures;       // transfers left to fail, their result
    std::map<std::string, unsigned> unlocked;                       // transfers without the bus lock
    std::vector<std::string> openPaths;                             // index = fd - SIM_FD_BASE
    std::map<std::string, sim::Settings> settings;                  // as last configured, by path
    bool timing = false;
    uint32_t driverCostNs = 20000;
};

SimState &simState()
{
    static SimState s;
    return s;
}

thread_local uint64_t t_busDebtNs = 0;
thread_local bool t_holdsBus = false;

void chargeBusTime(const Xfer *xfers, unsigned n)
{
    SimState &s = simState();
    bool timing;
    uint32_t driver;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        timing = s.timing;
        driver = s.driverCostNs;
    }
    if (!timing)
        return;
    for (unsigned i = 0; i < n; ++i) {
        uint32_t hz = xfers[i].speed_hz ? xfers[i].speed_hz : 10000000u;
        t_busDebtNs += uint64_t(xfers[i].len) * 8u * 1000000000ull / hz;
    }
    t_busDebtNs += driver;
    if (t_busDebtNs >= 1000000ull) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(t_busDebtNs));
        t_busDebtNs = 0;
    }
}

int simTransfer(int fd, const Xfer *xfers, unsigned n)
{
    SimState &s = simState();
    std::shared_ptr<sim::Device> dev;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        size_t idx = static_cast<size_t>(fd - SIM_FD_BASE);
        if (fd < SIM_FD_BASE || idx >= s.openPaths.size())
            return -1;
        const std::string &p = s.openPaths[idx];
        if (!BusMutex::heldByThisThread() && s.unlocked[p]++ == 0)
            std::fprintf(stderr, "spi: transfer on %s without the bus lock\n", p.c_str());
        auto f = s.failures.find(p);
        if (f != s.failures.end() && f->second.first > 0) {
            --f->second.first;
            return f->second.second;
        }
        auto it = s.devices.find(p);
        if (it != s.devices.end())
            dev = it->second;
    }
    int total = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (dev) {
            dev->transfer(xfers[i]);
        } else if (xfers[i].rx) {
            // Nothing on this chip select: the bus floats high.
            for (uint32_t k = 0; k < xfers[i].len; ++k)
                xfers[i].rx[k] = 0xFF;
        }
        total += static_cast<int>(xfers[i].len);
    }
    if (dev)
        dev->endMessage();
    chargeBusTime(xfers, n);
    return total;
}

int simConfigure(int fd, const sim::Settings &settings)
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    size_t idx = static_cast<size_t>(fd - SIM_FD_BASE);
    if (fd < SIM_FD_BASE || idx >= s.openPaths.size())
        return -1;
    s.settings[s.openPaths[idx]] = settings;
    return 0;
}

} // namespace

void BusMutex::lock()
{
    m_mutex.lock();
    t_holdsBus = true;
}

bool BusMutex::try_lock()
{
    if (!m_mutex.try_lock())
        return false;
    t_holdsBus = true;
    return true;
}

void BusMutex::unlock()
{
    t_holdsBus = false;
    m_mutex.unlock();
}

bool BusMutex::heldByThisThread()
{
    return t_holdsBus;
}

int open(const std::string &absolute)
{
    if (!isSim())
        return ::open(path(absolute).c_str(), O_RDWR | O_CLOEXEC);
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.openPaths.push_back(absolute);
    return SIM_FD_BASE + static_cast<int>(s.openPaths.size() - 1);
}

void close(int fd)
{
    if (!isSim() && fd >= 0)
        ::close(fd);
}

int configure(int fd, uint8_t mode, uint8_t bits, uint32_t maxSpeed)
{
    if (isSim())
        return simConfigure(fd, {mode, bits, maxSpeed});
    uint8_t m = mode, b = bits;
    uint32_t sp = maxSpeed;
    if (ioctl(fd, SPI_IOC_WR_MODE, &m) < 0 || ioctl(fd, SPI_IOC_RD_MODE, &m) < 0)
        return -1;
    if (ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &b) < 0 || ioctl(fd, SPI_IOC_RD_BITS_PER_WORD, &b) < 0)
        return -1;
    if (ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &sp) < 0 || ioctl(fd, SPI_IOC_RD_MAX_SPEED_HZ, &sp) < 0)
        return -1;
    return 0;
}

int transfer(int fd, const Xfer *xfers, unsigned n)
{
    if (n == 0)
        return 0;
    if (isSim())
        return simTransfer(fd, xfers, n);
    std::vector<spi_ioc_transfer> tr(n);
    for (unsigned i = 0; i < n; ++i) {
        spi_ioc_transfer t = {};
        t.tx_buf = reinterpret_cast<uintptr_t>(xfers[i].tx);
        t.rx_buf = reinterpret_cast<uintptr_t>(xfers[i].rx);
        t.len = xfers[i].len;
        t.speed_hz = xfers[i].speed_hz;
        t.bits_per_word = xfers[i].bits_per_word;
        t.delay_usecs = xfers[i].delay_usecs;
        t.cs_change = xfers[i].cs_change ? 1 : 0;
        tr[i] = t;
    }
    return ioctl(fd, SPI_IOC_MESSAGE(n), tr.data());
}

namespace sim {

void attach(const std::string &absolute, std::shared_ptr<Device> device)
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.devices[absolute] = std::move(device);
}

std::shared_ptr<Device> attached(const std::string &absolute)
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.devices.find(absolute);
    return it == s.devices.end() ? nullptr : it->second;
}

void detachAll()
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.devices.clear();
    s.failures.clear();
}

void setBusTiming(bool enabled, uint32_t driverCostNs)
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.timing = enabled;
    s.driverCostNs = driverCostNs;
}

bool busTimingWanted()
{
    const char *v = std::getenv("ZEM_SIM_BUS_TIMING");
    return !(v && std::string(v) == "0");
}

unsigned unlockedTransfers(const std::string &absolute)
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.unlocked.find(absolute);
    return it == s.unlocked.end() ? 0 : it->second;
}

void failTransfers(const std::string &absolute, unsigned count, int result)
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.failures[absolute] = {count, result};
}

bool settings(const std::string &absolute, Settings &out)
{
    SimState &s = simState();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.settings.find(absolute);
    if (it == s.settings.end())
        return false;
    out = it->second;
    return true;
}

} // namespace sim
} // namespace spi
} // namespace platform
