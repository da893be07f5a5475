// The on-screen display as the PC tool drives it: a menu uploaded by file
// transfer and switched on through the OSD word and register 11 is drawn by
// the chip's memory engine and shown on every output channel; a user mode
// saved with it keeps its menu, and recalling the mode shows that menu again
// after another one was shown; switching the OSD off clears the channels'
// enable bits. A bitmap menu is shown whole on a wall taller than the bitmap.

#include "app/para_layout.h"
#include "e2e_fixture.h"
#include "platform/sim_c331.h"
#include "support/osd_menu.h"

#include <regex>

using namespace e2e;

namespace {

Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }

class OsdE2e : public DeviceTest
{
protected:
    Bytes ask(const Bytes &body) { return payload(tcp->ask(body)); }
    void setWord(uint32_t offset, uint16_t v)
    {
        EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, offset, le16(v))), Bytes{0});
    }
    void apply(uint8_t mask) { EXPECT_EQ(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {mask, 0, 0})), Bytes{0}); }
    Bytes uploadMenu(const std::string &text, long h = 1080)
    {
        const Bytes menu = bytes(zemtest::osdMenuJson(text, h));
        return upload(*tcp, "OSDS", menu, md5Of(menu));
    }

    // The characters the memory engine drew, in order, from the engine's
    // log (one glyph of the 32-dot ASCII font is the character - 0x20).
    std::string drawn() const
    {
        std::string text;
        std::istringstream log(file(platform::sim::SimC331Engine::LOG_FILE));
        const std::regex glyph(" ([0-9A-F]{4}):02:01:0F");
        for (std::string line; std::getline(log, line);) {
            if (line.rfind("draw ", 0) != 0)
                continue;
            for (std::sregex_iterator g(line.begin(), line.end(), glyph), end; g != end; ++g)
                text += char(std::stoi((*g)[1], nullptr, 16) + 0x20);
        }
        return text;
    }
    bool drawnSince(size_t mark, const std::string &text) const
    {
        const std::string all = drawn();
        return all.size() >= mark && all.find(text, mark) != std::string::npos;
    }
    // Copies the memory engine made: four end each rebuild.
    size_t copies() const
    {
        size_t n = 0;
        std::istringstream log(file(platform::sim::SimC331Engine::LOG_FILE));
        for (std::string line; std::getline(log, line);)
            n += line.rfind("copy ", 0) == 0;
        return n;
    }
    // A 16-bit OSD register of output channel ch, from the chip's register file.
    unsigned osdReg(int ch, int sub) const
    {
        const std::string regs = file(platform::sim::SimC331::REGISTER_FILE);
        const size_t at = size_t(0x09 + 16 * ch) * 128 + size_t(sub);
        return regs.size() > at + 1 ? uint8_t(regs[at]) | uint8_t(regs[at + 1]) << 8 : 0xFFFFu;
    }
    unsigned control(int ch) const { return osdReg(ch, 0x02); }
    // Output channels the wall uses, from the chip manager's model dump.
    int channels()
    {
        EXPECT_EQ(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 163, {0x00, 0, 0})), Bytes{0});
        std::smatch m;
        const std::regex shape("\tPS_PANEL_HSHAPE:(\\d+)\r\n\tPS_PANEL_VSHAPE:(\\d+)\r\n");
        EXPECT_TRUE(zemtest::waitFor([&] { return output().find("\tg_unicode_line:2\r\n") != std::string::npos; }, 10s));
        const std::string out = output();
        return std::regex_search(out, m, shape) ? std::stoi(m[1]) * std::stoi(m[2]) : 0;
    }
    bool allChannels(int n, unsigned enableBits) const
    {
        for (int ch = 0; ch < n; ++ch)
            if ((control(ch) & 3) != enableBits)
                return false;
        return true;
    }

    std::unique_ptr<TcpClient> tcp;
};

TEST_F(OsdE2e, MenuIsDrawnShownKeptWithAUserModeAndSwitchedOff)
{
    start(false, false);
    tcp.reset(new TcpClient(10002));
    ASSERT_TRUE(tcp->ok());

    // Upload, then switch the OSD on: both lines drawn, every channel shows it.
    EXPECT_EQ(uploadMenu("HELLO\\nWORLD"), (Bytes{0, 3, 0}));
    setWord(para::OSD_FLAG, 1);
    apply(0x02);
    ASSERT_TRUE(zemtest::waitFor([&] { return drawnSince(0, "HELLOWORLD"); }, 10s)) << drawn();
    const int n = channels();
    ASSERT_GE(n, 1);
    EXPECT_TRUE(zemtest::waitFor([&] { return allChannels(n, 3); }, 10s));

    // Save user mode 1: it keeps the menu shown.
    setWord(para::USER_MODE_SAVE, 1);
    apply(0x02);
    ASSERT_TRUE(zemtest::waitFor([&] { return file("/data/modes/MO01.json") == zemtest::osdMenuJson("HELLO\\nWORLD"); }, 10s));

    // Another menu, reloaded by register 11 bit 3.
    EXPECT_EQ(uploadMenu("BYE"), (Bytes{0, 3, 0}));
    size_t mark = drawn().size();
    apply(0x08);
    ASSERT_TRUE(zemtest::waitFor([&] { return drawnSince(mark, "BYE"); }, 10s)) << drawn();

    // Recall mode 1 (a first write of the current mode only leaves it, as
    // the PC tool sees): its own menu is shown again.
    mark = drawn().size();
    EXPECT_TRUE(zemtest::waitFor([&] {
        setWord(para::CURRENT_USER_MODE, 1);
        apply(0x02);
        return zemtest::waitFor([&] { return drawnSince(mark, "HELLOWORLD"); }, 2s);
    }, 15s)) << drawn();
    EXPECT_EQ(file("/data/configs/omenu.json"), zemtest::osdMenuJson("HELLO\\nWORLD"));

    // Off (leaving the user mode): the enable bits leave every channel.
    setWord(para::CURRENT_USER_MODE, 0);
    setWord(para::OSD_FLAG, 0);
    apply(0x02);
    EXPECT_TRUE(zemtest::waitFor([&] { return allChannels(n, 0); }, 10s));
    EXPECT_TRUE(dev->running());
}

// A menu file whose height is a 16-bit number, or larger still, is drawn
// within the wall like any other: the program's resident memory stays where
// a menu of the wall's height leaves it (within 64 MiB), and it keeps
// answering.
TEST_F(OsdE2e, TallMenuLeavesTheMemoryBoundedAndTheDeviceAnswering)
{
    start(false, false);
    tcp.reset(new TcpClient(10002));
    ASSERT_TRUE(tcp->ok());
    // Shows a menu and waits for its rebuild to end; the resident memory then.
    auto show = [&](const std::string &text, long h) {
        EXPECT_EQ(uploadMenu(text, h), (Bytes{0, 3, 0}));
        const size_t drawnMark = drawn().size(), copyMark = copies();
        apply(0x08);
        EXPECT_TRUE(zemtest::waitFor([&] { return drawnSince(drawnMark, text) && copies() >= copyMark + 4; }, 20s))
            << text;
        return zemtest::residentKiB(dev->pid());
    };
    setWord(para::OSD_FLAG, 1);
    const long wallHigh = show("WALL", 1080);
    ASSERT_GT(wallHigh, 0);
    for (long h : {65535L, 1000000L}) {
        const long kib = show("TALL" + std::to_string(h), h);
        EXPECT_LT(kib - wallHigh, 64 * 1024) << h << ": " << kib << " KiB after " << wallHigh << " KiB";
    }
    EXPECT_EQ(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0})), Bytes{0});
    EXPECT_TRUE(dev->running());
}

// A bitmap menu of the 1920 x 1080 bitmap on a wall of 3840 x 2160 is shown
// whole: the first channel's OSD piece and its vertical scroll length are
// 1080 lines.
TEST_F(OsdE2e, BitmapMenuIsShownWholeOnAWallTallerThanTheBitmap)
{
    start(false, false);
    tcp.reset(new TcpClient(10002));
    ASSERT_TRUE(tcp->ok());
    const Bytes menu = bytes(R"({"name": "bmp", "osdcount": 1, "oactcount": 0, "menu": [{"type": 1, "status": "on",
        "pos": {"x": 0, "y": 0, "w": 1920, "h": 1080}, "act": {"effect": 0, "speed": 0, "staytime": 0},
        "bmppara": {}, "start": 0, "end": 0}]})");
    EXPECT_EQ(upload(*tcp, "OSDS", menu, md5Of(menu)), (Bytes{0, 3, 0}));
    setWord(para::LED_WIDTH, 3840);
    setWord(para::LED_HEIGHT, 2160);
    setWord(para::OSD_FLAG, 1);
    apply(0x02);
    const auto shown = [&] { return (control(0) & 3) == 2 && osdReg(0, 0x18) == 1080 && osdReg(0, 0x42) == 1080; };
    EXPECT_TRUE(zemtest::waitFor(shown, 10s)) << "control " << std::hex << control(0) << std::dec << ", height "
                                              << osdReg(0, 0x18) << ", scroll " << osdReg(0, 0x42);
    EXPECT_TRUE(dev->running());
}

} // namespace
