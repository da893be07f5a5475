#include "platform/files.h"
#include "platform/platform.h"
#include "support/blocked_call.h"
#include "support/temp_root.h"

#include <QDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <atomic>
#include <functional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using zemtest::readFile;

// Names in a host folder, so that a leftover temporary file shows.
std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> out;
    for (const QString &n : QDir(QString::fromStdString(dir)).entryList(QDir::Files | QDir::Hidden))
        out.push_back(n.toStdString());
    return out;
}

class Files : public zemtest::RootTest {};

TEST_F(Files, PathsLiveUnderTheRoot)
{
    EXPECT_EQ(platform::path("/data/app"), root.dir() + "/data/app");
    EXPECT_EQ(platform::path("/data/a..b/"), root.dir() + "/data/a..b/");
    EXPECT_TRUE(platform::files::exists("/data/configs"));
    EXPECT_TRUE(platform::files::exists("/data/modes"));
}

// A relative name or a ".." step would reach the host beside the root.
TEST_F(Files, NothingLeadsOutOfTheRoot)
{
    const std::string beside = root.dir() + "-escaped";
    const std::string name = beside.substr(beside.rfind('/'));
    for (const std::string &out : {"/.." + name, "/data/../.." + name, "/data/modes/../../.." + name,
                                   std::string("relative-escaped"), std::string()}) {
        SCOPED_TRACE(out);
        EXPECT_FALSE(platform::files::writeAtomic(out, "x", 1));
        EXPECT_FALSE(platform::ensureDir(out));
        EXPECT_FALSE(platform::files::exists(out));
    }
    EXPECT_NE(::access(beside.c_str(), F_OK), 0);
    EXPECT_NE(::access("relative-escaped", F_OK), 0);

    // Neither a folder nor a link at the file itself that leads out is
    // written: what it led to stays as it was.
    ASSERT_EQ(::mkdir(beside.c_str(), 0755), 0);
    zemtest::writeFile(beside + "/kept", "kept");
    ASSERT_TRUE(platform::ensureDir("/data"));
    ASSERT_EQ(::symlink(beside.c_str(), root.host("/data/out").c_str()), 0);
    ASSERT_EQ(::symlink((beside + "/kept").c_str(), root.host("/data/link").c_str()), 0);
    EXPECT_FALSE(platform::files::writeAtomic("/data/out/new", "x", 1));
    EXPECT_FALSE(platform::files::writeAtomic("/data/link", "x", 1));
    EXPECT_EQ(entries(beside), std::vector<std::string>{"kept"});
    EXPECT_EQ(readFile(beside + "/kept"), "kept");
    EXPECT_EQ(readFile(root.host("/data/link")), "kept");
    ::unlink((beside + "/kept").c_str());
    ::rmdir(beside.c_str());
}

TEST_F(Files, AtomicWriteReplacesWholeFile)
{
    ASSERT_TRUE(platform::files::writeAtomic("/data/a", "first", 5));
    ASSERT_TRUE(platform::files::writeAtomic("/data/a", "xy", 2));
    EXPECT_EQ(readFile(root.host("/data/a")), "xy");
    EXPECT_EQ(entries(root.host("/data")), std::vector<std::string>{"a"});
}

TEST_F(Files, FailedWriteKeepsThePreviousFile)
{
    ASSERT_TRUE(platform::files::writeAtomic("/data/a", "previous", 8));
    platform::files::testing::failNextWriteAfter(3);
    EXPECT_FALSE(platform::files::writeAtomic("/data/a", "replacement", 11));
    EXPECT_EQ(readFile(root.host("/data/a")), "previous");
    EXPECT_EQ(entries(root.host("/data")), std::vector<std::string>{"a"});
    // The failure is consumed by one write.
    EXPECT_TRUE(platform::files::writeAtomic("/data/a", "next", 4));
    EXPECT_EQ(readFile(root.host("/data/a")), "next");
}

TEST_F(Files, CopyMoveRemove)
{
    ASSERT_TRUE(platform::files::writeAtomic("/data/src", "payload", 7));
    EXPECT_TRUE(platform::files::copy("/data/src", "/data/modes/dst", platform::files::Kind::OsdMenu));
    EXPECT_EQ(readFile(root.host("/data/modes/dst")), "payload");
    EXPECT_FALSE(platform::files::copy("/data/missing", "/data/modes/dst", platform::files::Kind::OsdMenu));
    EXPECT_EQ(readFile(root.host("/data/modes/dst")), "payload");

    EXPECT_TRUE(platform::files::move("/data/src", "/data/moved"));
    EXPECT_FALSE(platform::files::exists("/data/src"));
    EXPECT_TRUE(platform::files::exists("/data/moved"));

    EXPECT_TRUE(platform::files::remove("/data/moved"));
    EXPECT_TRUE(platform::files::remove("/data/moved"));   // already gone
    EXPECT_TRUE(platform::files::remove("/data/modes"));
    EXPECT_FALSE(platform::files::exists("/data/modes"));
}

} // namespace

// Two links may store the same file at once (an EDID table sent over TCP and
// RS-485): each write must land whole and report success, never a mix.
TEST(FilesRace, ConcurrentAtomicWritesOfOneFileStayWhole)
{
    zemtest::TempRoot root;
    const std::string a(256 * 1024, 'a');
    const std::string b(256 * 1024, 'b');
    int failures = 0, mixed = 0;
    for (int round = 0; round < 60; ++round) {
        std::atomic<bool> okA{false}, okB{false};
        std::thread ta([&] { okA = platform::files::writeAtomic("/data/race", a.data(), a.size()); });
        std::thread tb([&] { okB = platform::files::writeAtomic("/data/race", b.data(), b.size()); });
        ta.join();
        tb.join();
        failures += !okA + !okB;
        const std::string got = readFile(root.host("/data/race"));
        mixed += got != a && got != b;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(mixed, 0);
}

namespace {

TEST_F(Files, LeftoversOfCutWritesAreRemovedAndNothingElse)
{
    using zemtest::writeFile;
    writeFile(root.host("/data/ram_device_info.tmp1234.7"), "torn");
    writeFile(root.host("/data/modes/custom_mode3.tmp88.1"), "torn");
    writeFile(root.host("/data/modes/custom_mode3"), "kept");
    writeFile(root.host("/data/configs/notes.tmp"), "kept");
    writeFile(root.host("/data/configs/a.tmp12"), "kept");
    // A file transfer's temporary copy, cut before it replaced the file.
    const std::string staged = "/data/configs/omenu.json.tmp4242.9";
    writeFile(root.host(staged), "staged");
    writeFile(root.host("/data/rcvrecovery/card.part"), "kept");
    EXPECT_EQ(platform::files::removeStaleTemporaries("/data"), 3);
    EXPECT_FALSE(platform::files::exists(staged));
    EXPECT_TRUE(platform::files::exists("/data/rcvrecovery/card.part"));
    EXPECT_FALSE(platform::files::exists("/data/ram_device_info.tmp1234.7"));
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode3.tmp88.1"));
    EXPECT_TRUE(platform::files::exists("/data/modes/custom_mode3"));
    EXPECT_TRUE(platform::files::exists("/data/configs/notes.tmp"));
    EXPECT_TRUE(platform::files::exists("/data/configs/a.tmp12"));
}

} // namespace

namespace {

// The simulation must never take the host's own root for its files.
TEST(PlatformRoot, SimulationRefusesTheHostRoot)
{
    const char *oldMode = std::getenv("ZEM_MODE");
    const char *oldRoot = std::getenv("ZEM_ROOT");
    std::string keepMode = oldMode ? oldMode : "", keepRoot = oldRoot ? oldRoot : "";
    setenv("ZEM_MODE", "sim", 1);
    setenv("ZEM_ROOT", "/", 1);
    platform::testing::resetSelection();
    EXPECT_TRUE(platform::isSim());
    EXPECT_NE(platform::root(), "/");
    EXPECT_NE(platform::path("/data/ram_device_info"), "/data/ram_device_info");
    oldMode ? setenv("ZEM_MODE", keepMode.c_str(), 1) : unsetenv("ZEM_MODE");
    oldRoot ? setenv("ZEM_ROOT", keepRoot.c_str(), 1) : unsetenv("ZEM_ROOT");
    platform::testing::resetSelection();
}

} // namespace

namespace {

using platform::files::Kind;

// Bounds worked out from the writers: an image is 4096 bytes, a transfer
// carries 5 MiB, the cloud settings are a 3-byte header and a 16-bit length
// less 2, the module block 256 bytes.
TEST(FileBounds, EachKindHasTheSizeItsWriterCanGiveIt)
{
    EXPECT_EQ(platform::files::maxSize(Kind::ParameterImage), 4096u);
    EXPECT_EQ(platform::files::maxSize(Kind::OsdMenu), 5242880u);
    EXPECT_EQ(platform::files::maxSize(Kind::CloudSettings), 65536u);
    EXPECT_EQ(platform::files::maxSize(Kind::ModuleInfo), 256u);
}

// Whatever stands at a path, a reader gets at most the bound of a regular
// file and never blocks or reads a device; a reader that opens the file
// itself is given only a regular file of its size inside the root.
TEST_F(Files, OnlyRegularFilesAreReadAndNoFurtherThanTheirKindsBound)
{
    const std::string outside = root.dir() + "-outside";
    zemtest::writeFile(outside, "elsewhere");
    zemtest::writeFile(root.host("/data/plain"), "plain");
    zemtest::writeFile(root.host("/data/huge"), "head");
    ASSERT_EQ(::truncate(root.host("/data/huge").c_str(), 300LL << 20), 0);   // sparse: no disk used
    ASSERT_EQ(::mkfifo(root.host("/data/fifo").c_str(), 0644), 0);
    const std::pair<std::string, const char *> links[] = {
        {root.host("/data/plain"), "to-plain"}, {root.host("/data/fifo"), "to-fifo"},
        {"/dev/zero", "to-zero"}, {outside, "to-outside"}};
    for (const auto &l : links)
        ASSERT_EQ(::symlink(l.first.c_str(), root.host(std::string("/data/") + l.second).c_str()), 0);
    struct Case {
        const char *file;
        bool read;
        std::string content;
        bool longer, safe;
    } const cases[] = {
        {"/data/plain", true, "plain", false, true},   {"/data/to-plain", true, "plain", false, true},
        {"/data/huge", true, "head" + std::string(4092, '\0'), true, false},
        {"/data/fifo", false, "", false, false},       {"/data/to-fifo", false, "", false, false},
        {"/data/to-zero", false, "", false, false},    {"/data/to-outside", true, "elsewhere", false, false},
        {"/data/missing", false, "", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        std::string out;
        bool longer = !c.longer;
        EXPECT_EQ(platform::files::readAll(c.file, Kind::UserMode, out, &longer), c.read);
        EXPECT_TRUE(!c.read || (out == c.content && longer == c.longer)) << out.size();
        EXPECT_EQ(platform::files::safeToOpen(c.file, Kind::UserMode), c.safe);
        uint64_t size = 0;
        std::FILE *f = platform::files::openRegular(c.file, &size);
        EXPECT_EQ(f != nullptr, c.read);
        if (f)
            std::fclose(f);
    }
    // A copy is whole or not made.
    EXPECT_FALSE(platform::files::copy("/data/huge", "/data/copy", Kind::UserMode));
    EXPECT_FALSE(platform::files::exists("/data/copy"));
    ::unlink(outside.c_str());
}

} // namespace

namespace {

// Every way the program changes files refuses a path whose folder, or the
// path itself as a link, leads out of the root, or a link that leads nowhere:
// nothing there is written, replaced, moved, made, chmod-ed or deleted.
TEST_F(Files, NothingOutsideTheRootChangesThroughALink)
{
    zemtest::OutsideDir beside(root);
    zemtest::writeFile(beside.host("kept"), "kept");
    ASSERT_EQ(::chmod(beside.host("kept").c_str(), 0600), 0);
    zemtest::writeFile(beside.host("kept.tmp12.3"), "a temporary's name");
    ASSERT_EQ(::mkdir(beside.host("sub").c_str(), 0700), 0);
    const std::pair<std::string, const char *> links[] = {
        {beside.dir(), "out"}, {beside.host("kept"), "link"}, {beside.host("none"), "dangling"}};
    for (const auto &l : links)
        ASSERT_EQ(::symlink(l.first.c_str(), root.host(std::string("/data/") + l.second).c_str()), 0);
    zemtest::writeFile(root.host("/data/src"), "payload");
    const auto before = beside.snapshot();

    namespace files = platform::files;
    const std::pair<const char *, std::function<bool(const std::string &)>> changes[] = {
        {"writeAtomic", [](const std::string &t) { return files::writeAtomic(t, "x", 1); }},
        {"remove", [](const std::string &t) { return files::remove(t); }},
        {"copy", [](const std::string &t) { return files::copy("/data/src", t, Kind::OsdMenu); }},
        {"move onto", [](const std::string &t) { return files::move("/data/src", t); }},
        {"move away", [](const std::string &t) { return files::move(t, "/data/moved"); }},
        {"ensureDir", [](const std::string &t) { return platform::ensureDir(t + "/new"); }},
        {"stale temporaries", [](const std::string &t) { return files::removeStaleTemporaries(t) > 0; }},
        {"openForWriting",
         [](const std::string &t) {
             const int fd = files::openForWriting(t, O_WRONLY | O_TRUNC);
             return fd >= 0 && ::close(fd) == 0;
         }},
        {"makeFifo", [](const std::string &t) { return files::makeFifo(t); }},
        {"setPermissionsBelow", [](const std::string &t) { return files::setPermissionsBelow(t, 0777); }},
        {"settingsWritable", [](const std::string &t) { return files::settingsWritable(t); }},
    };
    for (const auto &change : changes)
        for (const char *target : {"/data/out", "/data/out/kept", "/data/out/sub", "/data/link", "/data/dangling"})
            EXPECT_FALSE(change.second(target)) << change.first << " " << target;
    EXPECT_EQ(beside.snapshot(), before);
    EXPECT_EQ(readFile(root.host("/data/src")), "payload");
}

// On the device the root is "/": the check gives every board path as it is.
TEST_F(Files, OnTheDeviceTheCheckRefusesNoBoardPath)
{
    platform::configure(platform::Mode::Device, "/");
    for (const char *p : {"/data/configs/tcpip.ini", "/data/modes/custom_mode1", "/etc/network/interfaces", "/123.png"})
        EXPECT_EQ(platform::files::checkedPath(p), p);
    platform::configure(platform::Mode::Sim, root.dir());
}

// Inside the root a file written where it is must be a regular file (or a
// link to one): a FIFO or a device is never opened, so nothing blocks on it
// or is written into it. QSettings is given no lock file it would block on.
TEST_F(Files, OnlyRegularFilesAreWrittenWhereTheyAre)
{
    zemtest::writeFile(root.host("/data/plain"), "plain");
    ASSERT_EQ(::mkfifo(root.host("/data/fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink(root.host("/data/plain").c_str(), root.host("/data/to-plain").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", root.host("/data/to-null").c_str()), 0);
    zemtest::writeFile(root.host("/data/a.ini"), "[a]\n");
    zemtest::writeFile(root.host("/data/b.ini.lock"), "1\n");
    ASSERT_EQ(::mkfifo(root.host("/data/c.ini.lock").c_str(), 0644), 0);
    struct Case {
        const char *file;
        bool opened, settings;
    } const cases[] = {
        {"/data/plain", true, true},   {"/data/to-plain", true, true}, {"/data/missing", true, true},
        {"/data/fifo", false, false},  {"/data/to-null", false, false}, {"/data/modes", false, false},
        {"/data/a.ini", true, true},   {"/data/b.ini", true, true},    {"/data/c.ini", true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        zemtest::BlockedCall open([&] {
            const int fd = platform::files::openForWriting(c.file, O_WRONLY | O_APPEND);
            EXPECT_EQ(fd >= 0, c.opened);
            EXPECT_TRUE(fd < 0 || ::write(fd, "+", 1) == 1);
            if (fd >= 0)
                ::close(fd);
        });
        EXPECT_TRUE(open.finishes());
        EXPECT_EQ(platform::files::settingsWritable(c.file), c.settings);
    }
    EXPECT_EQ(readFile(root.host("/data/plain")), "plain++");
    EXPECT_EQ(readFile(root.host("/data/missing")), "+");
}

// Installing an application opens its folder to everyone; what a link in it
// leads to is not the folder's and keeps its bits.
TEST_F(Files, PermissionsBelowAFolderAreSetWithoutFollowingLinks)
{
    zemtest::OutsideDir beside(root);
    zemtest::writeFile(beside.host("secret"), "s");
    ASSERT_EQ(::chmod(beside.host("secret").c_str(), 0600), 0);
    ASSERT_TRUE(platform::ensureDir("/data/app/lib"));
    zemtest::writeFile(root.host("/data/app/lib/part"), "p");
    ASSERT_EQ(::chmod(root.host("/data/app/lib/part").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(beside.host("secret").c_str(), root.host("/data/app/link").c_str()), 0);
    ASSERT_EQ(::symlink(beside.dir().c_str(), root.host("/data/app/lib/folder").c_str()), 0);
    const auto before = beside.snapshot();

    EXPECT_TRUE(platform::files::setPermissionsBelow("/data/app", 0777));
    for (const char *p : {"/data/app", "/data/app/lib", "/data/app/lib/part"}) {
        struct stat st;
        ASSERT_EQ(::stat(root.host(p).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0777u) << p;
    }
    EXPECT_EQ(beside.snapshot(), before);
}

} // namespace
