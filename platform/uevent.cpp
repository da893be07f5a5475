#include "platform/uevent.h"
#include "platform/files.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/netlink.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace uevent {
namespace {

const size_t kMaxQueued = 256;  // a full socket buffer drops further messages
const char *const FIFO_FILE = "/sim/uevent";   // where the simulation's events are written
// A line of the FIFO longer than this is cut there, as a datagram is; the
// rest of the line is dropped.
const size_t kMaxLine = 8192;

class NetlinkSource : public Source
{
public:
    explicit NetlinkSource(int fd) : m_fd(fd) {}
    ~NetlinkSource() override { ::close(m_fd); }
    int receive(char *buf, size_t capacity, int timeoutMs) override
    {
        struct pollfd p = {m_fd, POLLIN, 0};
        int r = ::poll(&p, 1, timeoutMs);
        if (r < 0)
            return errno == EINTR ? 0 : -1;
        if (r == 0)
            return 0;
        ssize_t n = ::recv(m_fd, buf, capacity, MSG_DONTWAIT);
        if (n < 0)
            return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ENOBUFS) ? 0 : -1;
        return static_cast<int>(n);
    }

private:
    int m_fd;
};

// Injected messages and the wake-up pipe that sources block on.
struct SimQueue {
    std::mutex mutex;
    std::deque<std::string> messages;
    int wake[2] = {-1, -1};
    bool failOpen = false;
    SimQueue()
    {
        if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
            wake[0] = wake[1] = -1;
    }
};

SimQueue &simQueue()
{
    static SimQueue q;
    return q;
}

class SimSource : public Source
{
public:
    SimSource()
    {
        ensureDir("/sim");
        if (files::makeFifo(FIFO_FILE))
            m_fifo = ::open(sim::fifoPath().c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);  // own writer end: no hang-ups
    }
    ~SimSource() override
    {
        if (m_fifo >= 0)
            ::close(m_fifo);
    }

    int receive(char *buf, size_t capacity, int timeoutMs) override
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        SimQueue &q = simQueue();
        for (;;) {
            std::string msg;
            if (take(msg)) {
                size_t n = std::min(capacity, msg.size());
                std::memcpy(buf, msg.data(), n);
                return static_cast<int>(n);
            }
            long left = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
            if (left <= 0)
                return 0;
            struct pollfd p[2] = {{q.wake[0], POLLIN, 0}, {m_fifo, POLLIN, 0}};
            int r = ::poll(p, m_fifo >= 0 ? 2 : 1, static_cast<int>(left));
            if (r < 0 && errno != EINTR)
                return -1;
            if (r > 0 && (p[0].revents & POLLIN)) {
                char drain[64];
                while (::read(q.wake[0], drain, sizeof drain) > 0) {
                }
            }
            if (r > 0 && m_fifo >= 0 && (p[1].revents & POLLIN))
                readFifo();
        }
    }

private:
    bool take(std::string &msg)
    {
        if (takeLine(msg))
            return true;
        SimQueue &q = simQueue();
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.messages.empty())
            return false;
        msg = q.messages.front();
        q.messages.pop_front();
        return true;
    }

    // A whole line of the FIFO, or the first kMaxLine bytes of a longer one.
    bool takeLine(std::string &msg)
    {
        for (;;) {
            const size_t nl = m_pending.find('\n');
            if (m_cutting) {
                if (nl == std::string::npos) {
                    m_pending.clear();
                    return false;
                }
                m_pending.erase(0, nl + 1);
                m_cutting = false;
                continue;
            }
            if (nl != std::string::npos) {
                msg = m_pending.substr(0, nl);
                m_pending.erase(0, nl + 1);
                return true;
            }
            if (m_pending.size() < kMaxLine)
                return false;
            msg = m_pending.substr(0, kMaxLine);
            m_pending.erase(0, kMaxLine);
            m_cutting = true;
            return true;
        }
    }

    // One chunk at a time: what is pending stays within a line and a chunk,
    // however fast the FIFO is written.
    void readFifo()
    {
        char chunk[4096];
        const ssize_t n = ::read(m_fifo, chunk, sizeof chunk);
        if (n > 0)
            m_pending.append(chunk, static_cast<size_t>(n));
    }

    int m_fifo = -1;
    std::string m_pending;
    bool m_cutting = false;   // dropping the rest of a line that was cut
};

} // namespace

std::unique_ptr<Source> open(uint32_t portId, uint32_t groups, int rcvbuf)
{
    if (isSim()) {
        std::lock_guard<std::mutex> lock(simQueue().mutex);
        if (simQueue().failOpen) {
            simQueue().failOpen = false;
            errno = EADDRINUSE;
            return nullptr;
        }
        return std::unique_ptr<Source>(new SimSource);
    }
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return nullptr;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    struct sockaddr_nl addr;
    std::memset(&addr, 0, sizeof addr);
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = portId;
    addr.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    return std::unique_ptr<Source>(new NetlinkSource(fd));
}

namespace sim {

void inject(const std::string &message)
{
    SimQueue &q = simQueue();
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.messages.size() >= kMaxQueued)
            return;
        q.messages.push_back(message);
    }
    if (q.wake[1] >= 0) {
        const char one = 1;
        ssize_t ignored = ::write(q.wake[1], &one, 1);
        (void)ignored;
    }
}

void clear()
{
    std::lock_guard<std::mutex> lock(simQueue().mutex);
    simQueue().messages.clear();
    simQueue().failOpen = false;
}

void failNextOpen()
{
    std::lock_guard<std::mutex> lock(simQueue().mutex);
    simQueue().failOpen = true;
}

std::string fifoPath() { return path(FIFO_FILE); }

} // namespace sim
} // namespace uevent
} // namespace platform
