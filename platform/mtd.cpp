#include "platform/mtd.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mtd/mtd-user.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace mtd {
namespace {

struct OpenPartition {
    std::string device;
    Info info;
};

struct SimState {
    std::mutex mutex;
    std::string root;                                   // root the state below belongs to
    std::map<std::string, Info> geometry;               // per device, when set by a test
    std::map<std::string, std::vector<bool>> locked;    // per device, one flag per erase block
    std::map<sim::Op, unsigned> failures;               // requests left until the failing one
    std::deque<sim::Request> log;                       // the newest sim::LOG_LIMIT
    std::map<int, OpenPartition> open;                  // host descriptor of the backing file
};

SimState &simState()
{
    static SimState s;
    return s;
}

void clearLocked(SimState &s)
{
    s.geometry.clear();
    s.locked.clear();
    s.failures.clear();
    s.log.clear();
}

// The state under its lock, started afresh when the root has changed.
std::unique_lock<std::mutex> lockState(SimState &s)
{
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.root != root()) {
        clearLocked(s);
        s.root = root();
    }
    return lock;
}

Info defaultGeometry(const std::string &device)
{
    Info info;
    info.erasesize = sim::DEFAULT_ERASESIZE;
    info.writesize = sim::DEFAULT_WRITESIZE;
    if (device == devices::MTD_LOGO)
        info.size = 0x60000;
    else if (device == devices::MTD_KERNEL)
        info.size = 0x500000;
    else
        info.size = 0x100000;
    return info;
}

Info geometryOf(SimState &s, const std::string &device)
{
    auto it = s.geometry.find(device);
    return it != s.geometry.end() ? it->second : defaultGeometry(device);
}

// Counts down a pending failure of this kind; true when this request fails.
bool failsNow(SimState &s, sim::Op op)
{
    auto it = s.failures.find(op);
    if (it == s.failures.end())
        return false;
    if (--it->second > 0)
        return false;
    s.failures.erase(it);
    return true;
}

void record(SimState &s, sim::Op op, const std::string &device, uint32_t offset, uint32_t length, bool ok)
{
    s.log.push_back(sim::Request{op, device, offset, length, ok});
    if (s.log.size() > sim::LOG_LIMIT)
        s.log.pop_front();
}

int fail(int err)
{
    errno = err;
    return -1;
}

bool inRange(const Info &info, uint32_t start, uint32_t length)
{
    return uint64_t(start) + length <= info.size;
}

// Grows a backing file to the partition size; new bytes read as erased flash.
bool fillErased(int hostFd, uint64_t from, uint64_t to)
{
    return files::fillHost(hostFd, from, to, 0xFF);
}

int simOpen(const std::string &device)
{
    SimState &s = simState();
    auto lock = lockState(s);
    if (failsNow(s, sim::Op::Open)) {
        record(s, sim::Op::Open, device, 0, 0, false);
        return fail(ENODEV);
    }
    const Info info = geometryOf(s, device);
    int fd = -1;
    if (ensureDir("/sim"))
        fd = files::openForWriting(sim::backingFile(device), O_RDWR);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 ||
                    (uint64_t(st.st_size) < info.size && !fillErased(fd, uint64_t(st.st_size), info.size)))) {
        ::close(fd);
        fd = -1;
    }
    record(s, sim::Op::Open, device, 0, 0, fd >= 0);
    if (fd < 0)
        return fail(EIO);
    s.open[fd] = OpenPartition{device, info};
    return fd;
}

OpenPartition *simPartition(SimState &s, int fd)
{
    auto it = s.open.find(fd);
    return it == s.open.end() ? nullptr : &it->second;
}

int simGetInfo(int fd, Info &info)
{
    SimState &s = simState();
    auto lock = lockState(s);
    OpenPartition *p = simPartition(s, fd);
    if (!p)
        return fail(EBADF);
    bool ok = !failsNow(s, sim::Op::GetInfo);
    record(s, sim::Op::GetInfo, p->device, 0, 0, ok);
    if (!ok)
        return fail(ENOTTY);
    info = p->info;
    return 0;
}

int simUnlock(int fd, uint32_t start, uint32_t length)
{
    SimState &s = simState();
    auto lock = lockState(s);
    OpenPartition *p = simPartition(s, fd);
    if (!p)
        return fail(EBADF);
    bool ok = inRange(p->info, start, length) && !failsNow(s, sim::Op::Unlock);
    record(s, sim::Op::Unlock, p->device, start, length, ok);
    if (!ok)
        return fail(EINVAL);
    auto it = s.locked.find(p->device);
    if (it != s.locked.end() && length > 0) {
        const uint32_t es = p->info.erasesize;
        for (uint64_t b = start / es; b <= (uint64_t(start) + length - 1) / es && b < it->second.size(); ++b)
            it->second[b] = false;
    }
    return 0;
}

int simErase(int fd, uint32_t start, uint32_t length)
{
    SimState &s = simState();
    auto lock = lockState(s);
    OpenPartition *p = simPartition(s, fd);
    if (!p)
        return fail(EBADF);
    const uint32_t es = p->info.erasesize;
    bool ok = es != 0 && inRange(p->info, start, length) && start % es == 0 && length % es == 0 &&
              !failsNow(s, sim::Op::Erase);
    if (!ok) {
        record(s, sim::Op::Erase, p->device, start, length, false);
        return fail(EINVAL);
    }
    // Block by block, as the chip does: a locked block stops the erase there.
    auto locks = s.locked.find(p->device);
    for (uint64_t off = start; off < uint64_t(start) + length; off += es) {
        uint64_t block = off / es;
        if (locks != s.locked.end() && block < locks->second.size() && locks->second[block]) {
            record(s, sim::Op::Erase, p->device, start, length, false);
            return fail(EIO);
        }
        if (!fillErased(fd, off, off + es)) {
            record(s, sim::Op::Erase, p->device, start, length, false);
            return fail(EIO);
        }
    }
    record(s, sim::Op::Erase, p->device, start, length, true);
    return 0;
}

ssize_t simPwrite(int fd, const void *data, size_t length, uint32_t offset)
{
    SimState &s = simState();
    auto lock = lockState(s);
    OpenPartition *p = simPartition(s, fd);
    if (!p)
        return fail(EBADF);
    if (offset >= p->info.size || failsNow(s, sim::Op::Write)) {
        record(s, sim::Op::Write, p->device, offset, static_cast<uint32_t>(length), false);
        return fail(offset >= p->info.size ? ENOSPC : EIO);
    }
    // A write past the end is cut short at the end of the partition.
    size_t n = static_cast<size_t>(std::min<uint64_t>(length, p->info.size - offset));
    // Programming flash can only clear bits: the result is old AND new.
    std::vector<unsigned char> cells(n);
    ssize_t r = ::pread(fd, cells.data(), n, offset);
    const unsigned char *in = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < n; ++i)
        cells[i] &= in[i];
    ssize_t w = (r == ssize_t(n)) ? ::pwrite(fd, cells.data(), n, offset) : -1;
    record(s, sim::Op::Write, p->device, offset, static_cast<uint32_t>(n), w == ssize_t(n));
    if (w < 0)
        return fail(EIO);
    return w;
}

ssize_t simPread(int fd, void *data, size_t length, uint32_t offset)
{
    SimState &s = simState();
    auto lock = lockState(s);
    OpenPartition *p = simPartition(s, fd);
    if (!p)
        return fail(EBADF);
    if (offset >= p->info.size)
        return 0;
    size_t n = static_cast<size_t>(std::min<uint64_t>(length, p->info.size - offset));
    return ::pread(fd, data, n, offset);
}

} // namespace

int open(const std::string &absolute)
{
    if (isSim())
        return simOpen(absolute);
    return ::open(path(absolute).c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
}

void close(int fd)
{
    if (fd < 0)
        return;
    if (isSim()) {
        SimState &s = simState();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.open.erase(fd) == 0)
            return;
    }
    ::close(fd);
}

namespace {

std::atomic<testing::KernelIoctl> g_kernelIoctl{nullptr};

int kernelIoctl(int fd, unsigned long request, void *arg)
{
    const testing::KernelIoctl standIn = g_kernelIoctl.load();
    return standIn ? standIn(fd, request, arg) : ::ioctl(fd, request, arg);
}

} // namespace

namespace testing {
void setKernelIoctl(KernelIoctl ioctl)
{
    g_kernelIoctl = ioctl;
}
} // namespace testing

int getInfo(int fd, Info &info)
{
    if (isSim())
        return simGetInfo(fd, info);
    mtd_info_user mi = {};
    if (kernelIoctl(fd, MEMGETINFO, &mi) < 0)
        return -1;
    info.size = mi.size;
    info.erasesize = mi.erasesize;
    info.writesize = mi.writesize;
    return 0;
}

int unlock(int fd, uint32_t start, uint32_t length)
{
    if (isSim())
        return simUnlock(fd, start, length);
    erase_info_user ei = {start, length};
    return kernelIoctl(fd, MEMUNLOCK, &ei) < 0 ? -1 : 0;
}

int erase(int fd, uint32_t start, uint32_t length)
{
    if (isSim())
        return simErase(fd, start, length);
    erase_info_user ei = {start, length};
    return kernelIoctl(fd, MEMERASE, &ei) < 0 ? -1 : 0;
}

ssize_t pwrite(int fd, const void *data, size_t length, uint32_t offset)
{
    if (isSim())
        return simPwrite(fd, data, length, offset);
    return ::pwrite(fd, data, length, static_cast<off_t>(offset));
}

ssize_t pread(int fd, void *data, size_t length, uint32_t offset)
{
    if (isSim())
        return simPread(fd, data, length, offset);
    return ::pread(fd, data, length, static_cast<off_t>(offset));
}

namespace sim {

std::string backingFile(const std::string &device)
{
    size_t slash = device.find_last_of('/');
    std::string name = slash == std::string::npos ? device : device.substr(slash + 1);
    return "/sim/" + name + ".bin";
}

void setGeometry(const std::string &device, const Info &info)
{
    SimState &s = simState();
    auto lock = lockState(s);
    s.geometry[device] = info;
    s.locked.erase(device);
}

void lockAll(const std::string &device)
{
    SimState &s = simState();
    auto lock = lockState(s);
    const Info info = geometryOf(s, device);
    s.locked[device].assign(info.erasesize ? (info.size + info.erasesize - 1) / info.erasesize : 0, true);
}

void failRequest(Op op, unsigned skip)
{
    SimState &s = simState();
    auto lock = lockState(s);
    s.failures[op] = skip + 1;
}

std::vector<Request> log()
{
    SimState &s = simState();
    auto lock = lockState(s);
    return std::vector<Request>(s.log.begin(), s.log.end());
}

void clearLog()
{
    SimState &s = simState();
    auto lock = lockState(s);
    s.log.clear();
}

void reset()
{
    SimState &s = simState();
    auto lock = lockState(s);
    clearLocked(s);
}

} // namespace sim
} // namespace mtd
} // namespace platform
