#include "platform/files.h"
#include "platform/platform.h"
#include "support/temp_root.h"

#include <QDir>
#include <sys/stat.h>
#include <atomic>
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

    // A folder that leads out is not written in; a link at the file itself is
    // replaced, and what it led to stays as it was.
    ASSERT_EQ(::mkdir(beside.c_str(), 0755), 0);
    zemtest::writeFile(beside + "/kept", "kept");
    ASSERT_TRUE(platform::ensureDir("/data"));
    ASSERT_EQ(::symlink(beside.c_str(), root.host("/data/out").c_str()), 0);
    ASSERT_EQ(::symlink((beside + "/kept").c_str(), root.host("/data/link").c_str()), 0);
    EXPECT_FALSE(platform::files::writeAtomic("/data/out/new", "x", 1));
    EXPECT_TRUE(platform::files::writeAtomic("/data/link", "x", 1));
    EXPECT_EQ(entries(beside), std::vector<std::string>{"kept"});
    EXPECT_EQ(readFile(beside + "/kept"), "kept");
    EXPECT_EQ(readFile(root.host("/data/link")), "x");
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
