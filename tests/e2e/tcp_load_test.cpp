// Connections that come and go must give back what they held, whatever they
// left unfinished: after 1500 of them the program's resident memory is back
// where it started, and it still answers.

#include "e2e_fixture.h"

#include <sys/resource.h>

using namespace e2e;

namespace {

class TcpLoadE2e : public DeviceTest
{
};

// How many connections this test may hold open at once (the device inherits
// the raised descriptor limit), at most `wanted`.
size_t connectionsAtOnce(size_t wanted)
{
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    const rlim_t need = wanted + 128;
    lim.rlim_cur = std::max(lim.rlim_cur, std::min(lim.rlim_max, need));
    setrlimit(RLIMIT_NOFILE, &lim);
    return lim.rlim_cur >= need ? wanted : size_t(lim.rlim_cur) - 128;
}

// Opens `count` connections to `port`, writes `bytes` on each (turned-away
// ones may refuse them) and closes them all.
void comeAndGo(int port, size_t count, const Bytes &bytes)
{
    std::vector<int> fds;
    for (size_t i = 0; i < count; ++i) {
        int fd = zemtest::tcpConnect(port, zemtest::patience(2s));
        if (fd < 0)
            continue;
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        fds.push_back(fd);
    }
    for (int fd : fds)
        ::close(fd);
}

// True when a new connection to `port` is answered (a request the device
// refuses at once is not an error here).
bool answersRead(int port)
{
    const Bytes read = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2));
    int fd = zemtest::tcpConnect(port, zemtest::patience(500ms));
    bool ok = fd >= 0 && pctool::writeAll(fd, read) &&
              payload(pctool::decode(pctool::readFrames(fd, 1, zemtest::patience(500ms)))) == Bytes{0, 0x52, 0x97};
    if (fd >= 0)
        ::close(fd);
    return ok;
}

TEST_F(TcpLoadE2e, MemoryComesBackAfter1500ConnectionsComeAndGo)
{
    constexpr size_t TOTAL = 1500;
    const size_t atOnce = connectionsAtOnce(TOTAL);
    start(false, false);
    auto answers = [] { return answersRead(5005) && answersRead(10002); };
    ASSERT_TRUE(answers());
    const long before = zemtest::residentKiB(dev->pid());
    ASSERT_GT(before, 0);

    // As many at once as may be open, one byte each ...
    for (size_t done = 0; done < TOTAL; done += atOnce)
        comeAndGo(5005, std::min(atOnce, TOTAL - done), {0x11});
    // ... and in rounds below the port's cap, each leaving 100 KB of a frame unfinished.
    Bytes partial(100 * 1024, 0x33);
    partial[0] = 0xA5;
    for (size_t done = 0; done < TOTAL; done += 50)
        comeAndGo(10002, 50, partial);

    // Connections still sending when they closed may keep their places a
    // little longer: new ones are served once they are gone.
    ASSERT_TRUE(zemtest::waitFor(answers, 10s));
// The sanitizers' allocators keep freed memory (AddressSanitizer in its
// quarantine, ThreadSanitizer with its shadow of every block): measured
// without them.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // What the last of them held goes once the program has seen them close.
    long after = 0;
    EXPECT_TRUE(zemtest::waitFor([&] { return (after = zemtest::residentKiB(dev->pid())) - before < 10 * 1024; }, 10s))
        << "before " << before << " KiB, after " << after << " KiB";
#endif
}

} // namespace
