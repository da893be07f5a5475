// The simulated devices keep their state in files under the root's /sim:
// none of them writes, truncates or makes a file outside the root through a
// link there, or blocks on a FIFO put in a file's place.

#include "platform/files.h"
#include "platform/mtd.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sim_c331.h"
#include "platform/uevent.h"
#include "support/blocked_call.h"
#include "support/temp_root.h"

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::sim::SimC331;

struct Model {
    const char *file;
    std::function<void()> use;
};

std::vector<Model> models()
{
    return {
        {"shell.log", [] { platform::shell::run("sync"); }},
        {"chip_registers.bin", [] { SimC331().attachRegisterFile(SimC331::REGISTER_FILE); }},
        {"osd_engine.log", [] { SimC331().engine().attachLog(platform::sim::SimC331Engine::LOG_FILE); }},
        {"chip_flash.bin",
         [] {
             SimC331 chip;
             chip.flash().attachFile(platform::sim::SimC331Flash::BACKING_FILE);
             chip.flash().preset(0, {1, 2, 3});
         }},
        {"mtd8.bin", [] { platform::mtd::close(platform::mtd::open("/dev/mtd8")); }},
        {"uevent", [] { platform::uevent::open(0, 1, 4096); }},
    };
}

class SimFiles : public zemtest::RootTest
{
protected:
    void SetUp() override { platform::mtd::sim::reset(); }
    void TearDown() override { platform::mtd::sim::reset(); }

    // Uses every model; each must come to an end. One that waits on a FIFO
    // is let go (the test holds both ends) so that the test ends.
    void useAll()
    {
        for (const Model &m : models()) {
            int release = -1;
            {
                zemtest::BlockedCall use(m.use);
                if (!use.finishes()) {
                    ADD_FAILURE() << m.file << " blocks";
                    release = ::open(sim(m.file).c_str(), O_RDWR | O_NONBLOCK);
                }
            }
            if (release >= 0)
                ::close(release);
        }
    }
    std::string sim(const std::string &name) const { return root.host("/sim/" + name); }
};

// In their own folder the models keep their files as before.
TEST_F(SimFiles, InsideTheRootEachModelKeepsItsFile)
{
    useAll();
    EXPECT_EQ(zemtest::readFile(sim("shell.log")), "sync\n");
    EXPECT_EQ(zemtest::readFile(sim("chip_flash.bin")).substr(0, 4), std::string("\x01\x02\x03\xFF"));
    EXPECT_EQ(zemtest::readFile(sim("mtd8.bin")), std::string(0x60000, '\xFF'));
    EXPECT_EQ(zemtest::readFile(sim("osd_engine.log")), "");
    SimC331 again;   // a restart reads the flash back from its file
    ASSERT_TRUE(again.flash().attachFile(platform::sim::SimC331Flash::BACKING_FILE));
    EXPECT_EQ(again.flash().contents(0, 3), (std::vector<uint8_t>{1, 2, 3}));
    struct stat st;
    EXPECT_TRUE(::stat(sim("chip_registers.bin").c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0);
    EXPECT_TRUE(::stat(sim("uevent").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

TEST_F(SimFiles, NothingIsMadeInAFolderThatLeadsOutOfTheRoot)
{
    zemtest::OutsideDir beside(root);
    ::rmdir(root.host("/sim").c_str());
    ASSERT_EQ(::symlink(beside.dir().c_str(), root.host("/sim").c_str()), 0);
    useAll();
    EXPECT_TRUE(beside.snapshot().empty());
}

TEST_F(SimFiles, NoFileALinkLeadsToOutsideTheRootIsWritten)
{
    zemtest::OutsideDir beside(root);
    for (const Model &m : models()) {
        zemtest::writeFile(beside.host(m.file), "outside");
        ASSERT_EQ(::symlink(beside.host(m.file).c_str(), sim(m.file).c_str()), 0);
    }
    const auto before = beside.snapshot();
    useAll();
    EXPECT_EQ(beside.snapshot(), before);
}

TEST_F(SimFiles, AFifoInAFilesPlaceNeitherBlocksNorIsReplaced)
{
    for (const Model &m : models())
        ASSERT_EQ(::mkfifo(sim(m.file).c_str(), 0644), 0);
    useAll();
    for (const Model &m : models()) {
        struct stat st;
        EXPECT_TRUE(::lstat(sim(m.file).c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << m.file;
    }
}

} // namespace
