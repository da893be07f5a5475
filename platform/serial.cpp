#include "platform/serial.h"
#include "platform/platform.h"

#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {
namespace serial {
namespace {

struct SimLines {
    std::mutex mutex;
    std::map<int, int> modem;          // simulated modem bits per descriptor
    std::deque<sim::Record> log;       // the newest LOG_LIMIT records
};

// Called with the mutex held.
void recordLocked(SimLines &s, sim::Event e)
{
    s.log.push_back({std::chrono::steady_clock::now(), e});
    if (s.log.size() > sim::LOG_LIMIT)
        s.log.pop_front();
}

SimLines &lines()
{
    static SimLines s;
    return s;
}

// In simulation a serial port is one end of a pseudo-terminal pair linked
// under the root: anything else there (a file, a FIFO, a host device) is
// neither opened nor written. Pseudo-terminal ends have the majors 136 to 143.
bool isPseudoTerminal(const std::string &host)
{
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

void record(sim::Event e)
{
    SimLines &s = lines();
    std::lock_guard<std::mutex> lock(s.mutex);
    recordLocked(s, e);
}

} // namespace

int open(const std::string &absolute, int flags)
{
    const std::string host = path(absolute);
    if (isSim() && !isPseudoTerminal(host)) {
        errno = ENOTTY;
        return -1;
    }
    int fd = ::open(host.c_str(), flags | O_CLOEXEC);
    if (fd >= 0 && isSim()) {
        SimLines &s = lines();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.modem[fd] = TIOCM_DTR;
    }
    return fd;
}

void close(int fd)
{
    if (fd < 0)
        return;
    if (isSim()) {
        SimLines &s = lines();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.modem.erase(fd);
    }
    ::close(fd);
}

bool isTerminal(int fd) { return isatty(fd) == 1; }
int getAttr(int fd, struct termios *t) { return tcgetattr(fd, t); }
int setAttrNow(int fd, const struct termios *t) { return tcsetattr(fd, TCSANOW, t); }
int flush(int fd, int queue) { return tcflush(fd, queue); }

int drain(int fd)
{
    int r = tcdrain(fd);
    if (isSim())
        record(sim::Event::Drained);
    return r;
}

int getModem(int fd, int *bits)
{
    if (!isSim())
        return ioctl(fd, TIOCMGET, bits);
    SimLines &s = lines();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.modem.find(fd);
    if (it == s.modem.end())
        return -1;
    *bits = it->second;
    return 0;
}

int setModem(int fd, int bits)
{
    if (!isSim())
        return ioctl(fd, TIOCMSET, &bits);
    SimLines &s = lines();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.modem.find(fd);
    if (it == s.modem.end())
        return -1;
    bool wasRts = it->second & TIOCM_RTS;
    bool isRts = bits & TIOCM_RTS;
    it->second = bits;
    if (wasRts != isRts)
        recordLocked(s, isRts ? sim::Event::Receive : sim::Event::Transmit);
    return 0;
}

ssize_t read(int fd, void *buf, size_t n) { return ::read(fd, buf, n); }
ssize_t write(int fd, const void *buf, size_t n) { return ::write(fd, buf, n); }

ssize_t writeAll(int fd, const void *buf, size_t n, int timeoutMs)
{
    const uint8_t *p = static_cast<const uint8_t *>(buf);
    size_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (done < n) {
        ssize_t w = ::write(fd, p + done, n - done);
        if (w > 0) {
            if (done == 0 && isSim())
                record(sim::Event::FirstByte);
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()));
    }
    return done == 0 && n > 0 ? -1 : static_cast<ssize_t>(done);
}

namespace sim {

std::vector<Record> directionLog()
{
    SimLines &s = lines();
    std::lock_guard<std::mutex> lock(s.mutex);
    return std::vector<Record>(s.log.begin(), s.log.end());
}

void clearDirectionLog()
{
    SimLines &s = lines();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.log.clear();
}

} // namespace sim
} // namespace serial
} // namespace platform
