// Settings the PC tool changes end up on the device's storage: a brightness
// applied through register 11 is persisted in the parameter file, an OSD
// menu upload replaces the menu file only when its digest holds, and an
// alias file too deep to parse is removed.

#include "app/para_layout.h"
#include "e2e_fixture.h"

#include <QDir>
#include <atomic>
#include <mutex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>

using namespace e2e;

namespace {

// Byte of the image at `offset` as the parameter file stores it (mark, then
// the persistent part of the image from byte 768).
int storedByte(const std::string &paraFile, uint32_t offset)
{
    const size_t at = offset - 768 + 2;
    return paraFile.size() == 4096 ? uint8_t(paraFile[at]) : -1;
}

// Counts, per name, the files that a folder receives by a rename (each
// atomic rewrite of a file is one), from construction until count().
class Rewrites
{
public:
    explicit Rewrites(const std::string &folder)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_watch(inotify_add_watch(m_fd, folder.c_str(), IN_MOVED_TO)), m_reader([this] { read(); })
    {
    }
    ~Rewrites()
    {
        m_stop = true;
        m_reader.join();
        ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0 && m_watch >= 0; }
    std::map<std::string, int> count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_counts;
    }

private:
    void read()
    {
        alignas(inotify_event) char buf[64 * 1024];
        while (!m_stop) {
            pollfd p = {m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            std::lock_guard<std::mutex> lock(m_mutex);
            for (ssize_t at = 0; at < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
                if (e->len)
                    ++m_counts[e->name];
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
    }
    int m_fd;
    int m_watch;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::map<std::string, int> m_counts;
    std::thread m_reader;
};

class PersistenceE2e : public DeviceTest
{
protected:
    size_t entries(const std::string &dir) const
    {
        return size_t(QDir(QString::fromStdString(root.host(dir))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
    }
    // Image word at `offset` as a RAM read answers it; -1 without an answer.
    static int imageWord(TcpClient &tcp, uint32_t offset)
    {
        const Bytes r = payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, offset, 2)));
        return r.size() == 3 && r[0] == 0 ? r[1] | r[2] << 8 : -1;
    }
    // The requests that write an image word below 256 and that apply the image.
    static Bytes wordWrite(uint32_t offset, uint8_t v) { return pctool::ramWrite(pctool::CONTROLLER, offset, {v, 0}); }
    static Bytes reg11(uint8_t mask) { return pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {mask, 0, 0}); }
    // Sent, with the answer's payload.
    static Bytes writeWord(TcpClient &tcp, uint32_t offset, uint8_t v) { return payload(tcp.ask(wordWrite(offset, v))); }
    static Bytes apply(TcpClient &tcp, uint8_t mask) { return payload(tcp.ask(reg11(mask))); }
    // The 10 ms tick's counter divided by 20, from the device-information block.
    static int64_t clock(TcpClient &tcp)
    {
        const Bytes r = payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, 0xA000001C, 4)));
        return r.size() == 5 && r[0] == 0 ? int64_t(r[1] | r[2] << 8 | r[3] << 16 | uint32_t(r[4]) << 24) : -1;
    }
    // The tick's own pace in this run, idle: seconds per step of the counter
    // over five steps, from one step to another.
    static double idleTickPace(TcpClient &tcp)
    {
        auto nextStep = [&](int64_t after) {
            int64_t now = -1;
            EXPECT_TRUE(zemtest::waitFor([&] { return (now = clock(tcp)) > after; }, 10s));
            return std::make_pair(now, std::chrono::steady_clock::now());
        };
        const auto first = nextStep(clock(tcp));
        const auto fifth = nextStep(first.first + 4);
        return std::chrono::duration<double>(fifth.second - first.second).count() / double(fifth.first - first.first);
    }
    // A GUI thread held by a load stops the tick: over `seconds` it must keep
    // at least half its idle pace (one step of the counter given for its rounding).
    static ::testing::AssertionResult keptHalfItsPace(int64_t steps, double seconds, double idlePace)
    {
        if (double(steps + 1) >= 0.5 * seconds / idlePace)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << steps << " steps in " << seconds << " s, idle " << idlePace
                                             << " s per step";
    }
    // Contrast of a mode's slot file, -1 while the file is not whole.
    int modeContrast(int mode) const
    {
        const std::string f = file("/data/modes/custom_mode" + std::to_string(mode));
        return f.size() == para::SLOT_FILE_SIZE ? uint8_t(f[para::slotOffset(para::CONTRAST)]) : -1;
    }
};

// True when every reply of `replies` (there must be `count`) says done.
bool allDone(const std::vector<Bytes> &replies, size_t count)
{
    return replies.size() == count
           && std::all_of(replies.begin(), replies.end(), [](const Bytes &r) { return payload(r) == Bytes{0}; });
}

// A user mode saved while a later write waits for its apply: the next apply
// keeps the PC tool's change and leaves the user mode, it does not load the
// saved mode back over the change.
TEST_F(PersistenceE2e, SavedUserModeIsNotLoadedBackByTheNextApply)
{
    start(false, false);
    TcpClient tcp(5005);
    ASSERT_TRUE(tcp.ok());
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, para::USER_MODE_SAVE, {3, 0}))), Bytes{0});
    EXPECT_EQ(apply(tcp, 0x02), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, 300, {1}))), Bytes{0});
    ASSERT_TRUE(zemtest::waitFor([&] { return imageWord(tcp, para::CURRENT_USER_MODE) == 3; }, 10s)) << output();
    EXPECT_TRUE(zemtest::waitFor([&] { return exists("/data/modes/custom_mode3"); }, 10s));

    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, para::BRIGHTNESS, {20, 0}))), Bytes{0});
    EXPECT_EQ(apply(tcp, 0x02), Bytes{0});
    EXPECT_EQ(imageWord(tcp, para::BRIGHTNESS), 20);
    EXPECT_EQ(imageWord(tcp, para::CURRENT_USER_MODE), 0);
    const std::string paraFile = root.host("/data/ram_device_info");
    EXPECT_TRUE(zemtest::waitFor([&] { return storedByte(zemtest::readFile(paraFile), para::BRIGHTNESS) == 20; }, 10s));
}

// Two saves sent back to back, each sent as soon as the reply before it
// arrived: both are stored, each with the picture its apply had, and the
// second soon after its answer.
TEST_F(PersistenceE2e, UserModeSavesSentBackToBackAreBothStoredWithTheirOwnImage)
{
    start(false, false);
    TcpClient tcp(5005);
    ASSERT_TRUE(tcp.ok());
    auto contrast = [&](int mode) { return modeContrast(mode); };
    ASSERT_EQ(writeWord(tcp, para::CONTRAST, 20), Bytes{0});
    ASSERT_EQ(writeWord(tcp, para::USER_MODE_SAVE, 2), Bytes{0});
    ASSERT_EQ(apply(tcp, 0x02), Bytes{0});
    ASSERT_EQ(writeWord(tcp, para::CONTRAST, 60), Bytes{0});
    ASSERT_EQ(writeWord(tcp, para::USER_MODE_SAVE, 10), Bytes{0});
    ASSERT_EQ(apply(tcp, 0x02), Bytes{0});
    const auto answered = std::chrono::steady_clock::now();

    EXPECT_TRUE(zemtest::waitFor([&] { return contrast(10) == 60; }, 10s)) << output();
    EXPECT_LT(std::chrono::steady_clock::now() - answered, zemtest::patience(500ms));
    EXPECT_TRUE(zemtest::waitFor([&] { return contrast(2) == 20; }, 10s)) << output();
    EXPECT_EQ(imageWord(tcp, para::CURRENT_USER_MODE), 10);
}

// A recalled mode followed at once by a change and its apply, both before
// the chip thread's next turn: the change stays, the mode is not loaded again.
TEST_F(PersistenceE2e, RecalledModeIsNotLoadedAgainOverTheNextChange)
{
    start(false, false);
    TcpClient tcp(5005);
    ASSERT_TRUE(tcp.ok());
    ASSERT_EQ(writeWord(tcp, para::BRIGHTNESS, 40), Bytes{0});
    ASSERT_EQ(writeWord(tcp, para::USER_MODE_SAVE, 3), Bytes{0});
    ASSERT_EQ(apply(tcp, 0x02), Bytes{0});
    ASSERT_TRUE(zemtest::waitFor([&] { return imageWord(tcp, para::CURRENT_USER_MODE) == 3; }, 10s)) << output();
    ASSERT_EQ(writeWord(tcp, para::BRIGHTNESS, 60), Bytes{0});
    ASSERT_EQ(apply(tcp, 0x02), Bytes{0});

    ASSERT_EQ(writeWord(tcp, para::CURRENT_USER_MODE, 3), Bytes{0});
    ASSERT_EQ(apply(tcp, 0x02), Bytes{0});
    EXPECT_EQ(imageWord(tcp, para::BRIGHTNESS), 40);
    ASSERT_EQ(writeWord(tcp, para::BRIGHTNESS, 20), Bytes{0});
    ASSERT_EQ(apply(tcp, 0x02), Bytes{0});
    EXPECT_EQ(imageWord(tcp, para::BRIGHTNESS), 20);
    EXPECT_EQ(imageWord(tcp, para::CURRENT_USER_MODE), 0);
}

// A burst of user-mode checks (register 11, bit 2) with all 16 modes saved
// costs the GUI thread one round of work, not one per request: the 10 ms
// tick keeps its pace and a picture of the panel is taken at once.
TEST_F(PersistenceE2e, BurstOfUserModeChecksLeavesTheTickAndThePanelRunning)
{
    start(false, false);
    {
        TcpClient tcp(5005);
        ASSERT_TRUE(tcp.ok());
        for (uint32_t mode = 1; mode <= 16; ++mode)
            ASSERT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, mode << 12, {0xAA, 0xAA}))), Bytes{0});
    }
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    const double idlePace = idleTickPace(tcp);

    const auto from = std::chrono::steady_clock::now();
    const int64_t before = clock(tcp);
    ASSERT_GE(before, 0);
    // As a PC tool sends them, about one every 10 ms: each gets its own apply pass.
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(apply(tcp, 0x04), Bytes{0});
        std::this_thread::sleep_for(10ms);
    }
    // The picture is taken by the GUI thread, after the work the burst left it.
    const Bytes header = payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, 0x800000, 16), zemtest::patience(5s)));
    ASSERT_EQ(header.size(), 17u);
    EXPECT_GT(header[13] | header[14] << 8 | header[15] << 16, 0) << "the panel's picture was taken";
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    EXPECT_TRUE(keptHalfItsPace(clock(tcp) - before, took, idlePace));
    EXPECT_TRUE(exists("/data/modes/custom_mode16"));
    EXPECT_TRUE(dev->running());
}

// A save and a change sent in one write end where they end when each is
// sent once the reply before it came: the mode holds the save, the change
// leaves the mode, and a recall of the mode brings its picture back.
TEST_F(PersistenceE2e, SaveAndChangeSentInOneWriteEndAsWhenSentOneAtATime)
{
    start(false, false);
    TcpClient tcp(5005);
    ASSERT_TRUE(tcp.ok());
    auto frames = [](std::initializer_list<Bytes> bodies) {
        Bytes wire;
        for (const Bytes &b : bodies)
            wire = cat(wire, pctool::frame(b));
        return wire;
    };
    ASSERT_TRUE(allDone(tcp.askAll(frames({wordWrite(para::CONTRAST, 20), wordWrite(para::USER_MODE_SAVE, 3),
                                           reg11(0x02), wordWrite(para::CONTRAST, 40), reg11(0x02)}),
                                   5),
                        5));
    ASSERT_TRUE(zemtest::waitFor([&] { return modeContrast(3) == 20; }, 10s)) << output();
    EXPECT_EQ(imageWord(tcp, para::CURRENT_USER_MODE), 0);
    EXPECT_EQ(imageWord(tcp, para::CONTRAST), 40);
    const std::string paraFile = root.host("/data/ram_device_info");
    EXPECT_TRUE(zemtest::waitFor([&] {
        const std::string f = zemtest::readFile(paraFile);
        return storedByte(f, para::CURRENT_USER_MODE) == 0 && storedByte(f, para::CONTRAST) == 40;
    }, 10s));

    ASSERT_TRUE(allDone(tcp.askAll(frames({wordWrite(para::CURRENT_USER_MODE, 3), reg11(0x02)}), 2), 2));
    EXPECT_EQ(imageWord(tcp, para::CONTRAST), 20);
    EXPECT_EQ(imageWord(tcp, para::CURRENT_USER_MODE), 3);
}

// A PC tool that sends user-mode saves without pause on two connections
// (the save request word, then register 11: one connection for modes 1 to
// 16 in turn, the other for mode 1 alone, each round with a new picture)
// holds neither the program nor its memory: the 10 ms tick keeps at least
// half its idle pace, resident memory stays where it was, no mode file is
// rewritten more than about ten times a second, and the last save of each
// mode is on disk within half a second of its answer.
TEST_F(PersistenceE2e, FloodOfUserModeSavesIsStoredAtABoundedPaceWithoutHoldingTheProgram)
{
    start(false, false);
    TcpClient probe(10002);
    ASSERT_TRUE(probe.ok());
    const double idlePace = idleTickPace(probe);
    ::mkdir(root.host("/data/modes").c_str(), 0755);
    Rewrites rewrites(root.host("/data/modes"));
    ASSERT_TRUE(rewrites.ok());
    [[maybe_unused]] const long memoryBefore = zemtest::residentKiB(dev->pid());

    // Each round changes the picture, so that every save has a file to rewrite.
    auto round = [](uint8_t contrast, uint8_t lastMode) {
        Bytes wire = pctool::frame(wordWrite(para::CONTRAST, contrast));
        for (uint8_t i = 1; i <= 16; ++i) {
            const uint8_t mode = std::min(i, lastMode);
            wire = cat(cat(wire, pctool::frame(wordWrite(para::USER_MODE_SAVE, mode))), pctool::frame(reg11(0x02)));
        }
        return wire;
    };
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::atomic<bool> unanswered{false};
    auto flood = [&](uint8_t lastMode) {
        TcpClient tcp(5005);
        while (!stop && !unanswered) {
            if (allDone(tcp.askAll(round(uint8_t(rounds % 100), lastMode), 33, zemtest::patience(5s)), 33))
                ++rounds;
            else
                unanswered = true;
        }
    };
    const auto from = std::chrono::steady_clock::now();
    const int64_t before = clock(probe);
    std::thread every(flood, 16), first(flood, 1);
    std::this_thread::sleep_for(3s);
    stop = true;
    every.join();
    first.join();
    EXPECT_FALSE(unanswered);
    EXPECT_TRUE(keptHalfItsPace(clock(probe) - before,
                                std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count(),
                                idlePace))
        << rounds << " rounds of 16 saves";

    // The last round, on one link, each mode with a contrast of its own.
    Bytes last;
    for (uint8_t mode = 1; mode <= 16; ++mode)
        last = cat(last, cat(cat(pctool::frame(wordWrite(para::CONTRAST, uint8_t(10 + mode))),
                                 pctool::frame(wordWrite(para::USER_MODE_SAVE, mode))),
                             pctool::frame(reg11(0x02))));
    TcpClient tcp(5005);
    ASSERT_TRUE(allDone(tcp.askAll(last, 48, zemtest::patience(5s)), 48));
    const auto answered = std::chrono::steady_clock::now();
    auto allStored = [&] {
        for (int mode = 1; mode <= 16; ++mode)
            if (modeContrast(mode) != 10 + mode)
                return false;
        return true;
    };
    EXPECT_TRUE(zemtest::waitFor(allStored, 10s)) << output();
    EXPECT_LT(std::chrono::steady_clock::now() - answered, zemtest::patience(500ms));

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    const std::map<std::string, int> counts = rewrites.count();
    for (int mode = 1; mode <= 16; ++mode) {
        const auto it = counts.find("custom_mode" + std::to_string(mode));
        const int n = it == counts.end() ? 0 : it->second;
        EXPECT_LE(n, int(seconds * 1000 / 100) + 2) << "mode " << mode << " rewritten in " << seconds << " s";
    }
// The sanitizers' allocators keep freed memory: measured without them.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(zemtest::residentKiB(dev->pid()) - memoryBefore, 20 * 1024) << "before " << memoryBefore << " KiB";
#endif
    EXPECT_TRUE(dev->running());
}

TEST_F(PersistenceE2e, BrightnessAppliedByRegister11IsPersisted)
{
    start(false, false);
    const std::string paraFile = root.host("/data/ram_device_info");
    ASSERT_EQ(storedByte(zemtest::readFile(paraFile), para::BRIGHTNESS), 100);

    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, para::BRIGHTNESS, {60, 0}))), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, para::BRIGHTNESS, 2))), (Bytes{0, 60, 0}));
    // Register 11: apply what the image holds now.
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0}))), Bytes{0});
    EXPECT_TRUE(zemtest::waitFor([&] { return storedByte(zemtest::readFile(paraFile), para::BRIGHTNESS) == 60; }, 10s))
        << output();
    const std::string stored = zemtest::readFile(paraFile);
    ASSERT_EQ(stored.size(), 4096u);
    EXPECT_EQ(uint8_t(stored[0]), 0xAA);
    EXPECT_EQ(uint8_t(stored[1]), 0xAA);
    EXPECT_EQ(storedByte(stored, para::BRIGHTNESS + 1), 0);
    EXPECT_TRUE(dev->running());
}

TEST_F(PersistenceE2e, OsdMenuUploadChecksItsDigestAndRefusesPathNames)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());

    std::string json = "{\"menu\":[";
    for (int i = 0; json.size() < 3000; ++i)
        json += "{\"item\":" + std::to_string(i) + ",\"text\":\"entry " + std::to_string(i) + "\"},";
    json += "{}]}";
    const Bytes menu = bytes(json);
    EXPECT_EQ(upload(tcp, "OSDS", menu, md5Of(menu)), (Bytes{0, 3, 0}));
    EXPECT_EQ(file("/data/configs/omenu.json"), json);

    // A wrong digest: failure, and the menu stays as it was.
    const Bytes other = bytes("{\"menu\":[{\"item\":99}]}");
    Bytes wrong = md5Of(other);
    wrong[0] ^= 1;
    EXPECT_EQ(upload(tcp, "OSDS", other, wrong), (Bytes{0, 3, 1}));
    EXPECT_EQ(file("/data/configs/omenu.json"), json);

    // A name that climbs out of its folder is refused; nothing is created.
    for (uint8_t type : {uint8_t(9), uint8_t(13)}) {
        SCOPED_TRACE(int(type));
        EXPECT_EQ(payload(tcp.ask(startNamed("../x", type, 4))), (Bytes{1, 7, 2}));
    }
    EXPECT_FALSE(exists("/data/x"));
    EXPECT_FALSE(exists("/x"));
    EXPECT_EQ(entries("/data/rcvrecovery"), 0u);
    EXPECT_EQ(entries("/data/smartmapping"), 0u);
    EXPECT_TRUE(dev->running());
}

// An alias file nested far deeper than any real one is removed as
// unparsable, at start-up (the status screen reads the names) and after an
// upload, and the program keeps answering.
TEST_F(PersistenceE2e, DeeplyNestedAliasFileIsRemovedAtStartAndAfterAnUpload)
{
    const std::string alias = "/data/configs/alias.json";
    const std::string deep = "{\"namelist\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    ::mkdir(root.host("/data").c_str(), 0755);
    ::mkdir(root.host("/data/configs").c_str(), 0755);
    zemtest::writeFile(root.host(alias), deep);
    start(false, false);
    EXPECT_TRUE(zemtest::waitFor([&] { return !exists(alias); }, 10s)) << output();

    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    EXPECT_EQ(upload(tcp, "ALIS", bytes(deep), md5Of(bytes(deep))), (Bytes{0, 3, 0}));
    EXPECT_TRUE(zemtest::waitFor([&] { return !exists(alias); }, 10s)) << output();
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2))), (Bytes{0, 0x52, 0x97}));
    EXPECT_TRUE(dev->running());
}

} // namespace
