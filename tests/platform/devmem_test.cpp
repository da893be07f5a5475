#include "platform/devmem.h"
#include "platform/platform.h"
#include "support/temp_root.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

// The device backend against a plain file standing in for /dev/mem under the
// test's root: a GPIO word whose address is not on a page boundary is mapped
// and written where it lies.
TEST(DevMemOnTheBoard, MapsWordsThatDoNotStartAPage)
{
    zemtest::TempRoot root;
    ::mkdir(root.host("/dev").c_str(), 0755);
    const uint32_t base = 0x1F2079A8, word = 0x1F2079AC;
    const std::string mem = root.host("/dev/mem");
    {
        std::ofstream f(mem, std::ios::binary);
        f.seekp(word + 2);   // sparse up to just past the word
        f.put('\0');
    }
    platform::configure(platform::Mode::Device, root.dir());
    std::unique_ptr<platform::devmem::Window> win = platform::devmem::map(base, 6);
    ASSERT_NE(win, nullptr);
    win->write16(word, 0x1234);
    EXPECT_EQ(win->read16(word), 0x1234);
    win.reset();
    platform::configure(platform::Mode::Sim, root.dir());

    std::ifstream f(mem, std::ios::binary);
    f.seekg(word);
    char bytes[2] = {};
    f.read(bytes, 2);
    EXPECT_EQ(bytes[0], '\x34');
    EXPECT_EQ(bytes[1], '\x12');
}

// GPIO words at the simulated board's own addresses are left alone on the
// device, and the program says so once.
TEST(DevMemOnTheBoard, LeavesTheSimulatedBoardsGpioWordsAlone)
{
    zemtest::TempRoot root;
    ::mkdir(root.host("/dev").c_str(), 0755);
    zemtest::writeFile(root.host("/dev/mem"), std::string(0x1000, '\0'));
    platform::configure(platform::Mode::Device, root.dir());
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::devmem::mapBoardGpio(0x0, 2), nullptr);
    EXPECT_EQ(platform::devmem::mapBoardGpio(0x8, 2), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    platform::configure(platform::Mode::Sim, root.dir());
    EXPECT_NE(platform::devmem::mapBoardGpio(0x8, 2), nullptr);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// The simulated 16-bit poke changes its two bytes and no more.
TEST(DevMemSimulated, PokeOf16BitsLeavesTheNextWordAlone)
{
    zemtest::TempRoot root;
    platform::devmem::sim::reset();
    const uint32_t word = 0x1F2079A8;
    std::unique_ptr<platform::devmem::Window> win = platform::devmem::map(word, 4);
    ASSERT_NE(win, nullptr);
    win->write32(word, 0x11223344);
    platform::devmem::sim::poke16(word, 0xBEEF);
    EXPECT_EQ(win->read32(word), 0x1122BEEFu);
    platform::devmem::sim::reset();
}

} // namespace
