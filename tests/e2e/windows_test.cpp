// Windows of the running program changed as the PC tool and the USB keypad
// change them, with sources plugged through $ZEM_ROOT/sim/inputs, read back
// with the chip's register-group dump (register 164).

#include "app/para_layout.h"
#include "e2e_fixture.h"
#include "support/vnc_client.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

using namespace e2e;

namespace {

constexpr uint16_t IMAGE_FILE_MARK = 2;   // image bytes follow the file's 0xAA 0xAA

Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }

// One register-group dump: the channels each window holds and, per channel
// n, the text of its register lines.
struct GroupDump {
    std::map<std::string, std::string> windows;   // "win1 ICH" -> "port 2 ICH2"
    std::map<int, std::string> channels;          // 1..8 -> register text
};

GroupDump parseDump(const std::string &text)
{
    GroupDump d;
    std::istringstream in(text);
    std::string section;
    for (std::string line; std::getline(in, line);) {
        if (line == "ICH:" || line == "OCH:") {
            section = line.substr(0, 3);
        } else if (line.rfind("\twin", 0) == 0) {
            const size_t colon = line.find(':');
            d.windows[line.substr(1, colon - 1) + " " + section] = line.substr(colon + 2);
        } else if (line.rfind("CH", 0) == 0) {
            d.channels[std::stoi(line.substr(2))] += line.substr(line.find(':') + 1);
        }
    }
    return d;
}

// Value of register `name` in a channel's text.
std::string field(const std::string &channel, const std::string &name)
{
    const size_t at = channel.find(" " + name + "=");
    if (at == std::string::npos)
        return {};
    const size_t from = at + name.size() + 2;
    return channel.substr(from, channel.find(' ', from) - from);
}

class WindowsE2e : public DeviceTest
{
protected:
    void startWithSources(const std::map<std::string, std::string> &env = {}, const std::string &platform = "offscreen",
                          const std::string &sources = "0 1920x1080@60\n1 1280x720@60\n2 1920x1080@60\n")
    {
        zemtest::writeFile(root.host("/sim/inputs"), sources);
        start(true, false, platform, env);
        tcp.reset(new TcpClient(10002));
        ASSERT_TRUE(tcp->ok());
    }

    Bytes ask(const Bytes &body) { return payload(tcp->ask(body)); }
    void ramWrite(uint32_t address, const Bytes &data)
    {
        EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, address, data)), Bytes{0});
    }
    void apply() { EXPECT_EQ(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0})), Bytes{0}); }

    // Window i's rectangle and source word in the image.
    void window(uint32_t i, uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint16_t source)
    {
        ramWrite(para::window(i, para::WIN_ENABLE), le16(1));
        Bytes record = le16(source);
        for (uint16_t v : {x, y, w, h})
            record = cat(record, le16(v));
        ramWrite(para::window(i, para::WIN_SOURCE), record);
    }

    // Asks for a register-group dump and waits for it to be printed whole.
    GroupDump dump()
    {
        static const std::string title = "[zemDbg_c331_print_regGrp] grp:0";
        const size_t from = output().rfind(title) == std::string::npos ? 0 : output().rfind(title) + title.size();
        EXPECT_EQ(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 164, {0x01, 0, 1})), Bytes{0});
        std::string text;
        EXPECT_TRUE(zemtest::waitFor([&] {
            const std::string out = output();
            const size_t at = out.find(title, from);
            const size_t end = at == std::string::npos ? at : out.find("8: ICHSEL", at);
            if (end == std::string::npos || out.find('\n', end) == std::string::npos)
                return false;
            text = out.substr(at, out.find('\n', end) - at);
            return true;
        }, 10s)) << output();
        return parseDump(text);
    }

    // Waits until the dump shows window `w` capturing `width` pixels of `port`.
    GroupDump dumpWhen(int w, int port, int width)
    {
        GroupDump d;
        const std::string want = "port " + std::to_string(port) + " ICH";
        EXPECT_TRUE(zemtest::waitFor([&] {
            d = dump();
            const int ich = channelOf(d, w, "ICH");
            return d.windows["win" + std::to_string(w) + " ICH"].rfind(want, 0) == 0 &&
                   hex(field(d.channels[ich], "IACT_HW")) == width;
        }, 10s)) << output();
        return d;
    }

    // Channel number (1..8) of a window's input (ICH) or first output (OCH) channel, -1 when none.
    static int channelOf(const GroupDump &d, int w, const char *kind)
    {
        const auto it = d.windows.find("win" + std::to_string(w) + " " + kind);
        const size_t at = it == d.windows.end() ? std::string::npos : it->second.find(kind);
        return at == std::string::npos ? -1 : std::stoi(it->second.substr(at + 3));
    }
    static long hex(const std::string &s) { return s.empty() ? -1 : std::stol(s, nullptr, 16); }

    std::unique_ptr<TcpClient> tcp;
};

// Window 1 gets a new source from the PC tool: its channels alone are written
// again, the image is persisted, and both links keep answering RAM reads
// while the chip is re-programmed.
TEST_F(WindowsE2e, NewSourceOfOneWindowReprogramsOnlyThatWindow)
{
    startWithSources();
    window(0, 0, 0, 1920, 1080, 0);
    window(1, 1920, 0, 1920, 1080, 1);
    apply();
    const GroupDump before = dumpWhen(1, 2, 1280);
    const int ich0 = channelOf(before, 0, "ICH"), och0 = channelOf(before, 0, "OCH");
    ASSERT_EQ(ich0, och0) << "one channel number per window in this layout";

    // RAM reads on both links while the pass runs, each answered in time.
    std::atomic<bool> stop{false};
    struct Link {
        long slowest = 0;
        int answered = 0;
    } tcpReads, rs485Reads;
    auto reader = [&](Link &link, const std::function<Bytes()> &read) {
        while (!stop) {
            const auto t0 = std::chrono::steady_clock::now();
            const bool ok = read().size() == 3;
            const auto took = std::chrono::steady_clock::now() - t0;
            const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
            link.slowest = std::max(link.slowest, ok ? ms : 100000L);
            ++link.answered;
        }
    };
    TcpClient second(10002);
    const Bytes read = pctool::ramRead(pctool::CONTROLLER, para::window(1, para::WIN_SOURCE), 2);
    std::thread onTcp(reader, std::ref(tcpReads), [&] { return payload(second.ask(read)); });
    std::thread onRs485(reader, std::ref(rs485Reads), [&] { return payload(askPty(*rs485, pctool::frame(read))); });
    ramWrite(para::window(1, para::WIN_SOURCE), le16(2));
    apply();
    const GroupDump after = dumpWhen(1, 1, 1920);
    stop = true;
    onTcp.join();
    onRs485.join();
    for (const Link *link : {&tcpReads, &rs485Reads}) {
        EXPECT_GT(link->answered, 2);
        EXPECT_LT(link->slowest, zemtest::patience(100ms).count()) << "milliseconds for a RAM read during the pass";
    }

    EXPECT_EQ(after.channels.at(ich0), before.channels.at(ich0)) << "window 0 untouched";
    EXPECT_NE(after.channels.at(channelOf(after, 1, "OCH")), before.channels.at(channelOf(before, 1, "OCH")));
    EXPECT_TRUE(zemtest::waitFor([&] {
        const std::string stored = file("/data/ram_device_info");
        const size_t at = para::window(1, para::WIN_SOURCE) - para::PERSISTENT_START + IMAGE_FILE_MARK;
        return stored.size() > at + 1 && stored[at] == 2 && stored[at + 1] == 0;
    }, 10s));
}

// Moving and resizing window 0 writes its new rectangle into its output
// channel and its input channel's capture.
TEST_F(WindowsE2e, MovedAndResizedWindowReachesItsChannels)
{
    startWithSources();
    window(0, 0, 0, 1920, 1080, 2);
    apply();
    const GroupDump before = dumpWhen(0, 1, 1920);
    const int och = channelOf(before, 0, "OCH"), ich = channelOf(before, 0, "ICH");
    window(0, 100, 50, 960, 540, 2);
    apply();
    GroupDump after;
    ASSERT_TRUE(zemtest::waitFor([&] {
        after = dump();
        return hex(field(after.channels[och], "OACT_HW")) == 960;
    }, 10s)) << output();
    // The output starts 100 pixels and 50 lines further in; it reads one
    // line more than it shows. The capture now shrinks by two.
    const std::string &was = before.channels.at(och), &is = after.channels.at(och);
    EXPECT_EQ(hex(field(is, "OACT_HST")) - hex(field(was, "OACT_HST")), 100);
    EXPECT_EQ(hex(field(is, "OACT_VST")) - hex(field(was, "OACT_VST")), 50);
    EXPECT_EQ(hex(field(is, "OACT_VW")), 541);
    EXPECT_EQ(channelOf(after, 0, "ICH"), ich);
    EXPECT_NE(after.channels.at(ich), before.channels.at(ich));
}

// The USB keypad: B selects window 2 (index 1), K shows source 3 (index 2)
// in it.
TEST_F(WindowsE2e, KeypadLettersChangeTheSelectedWindowsSource)
{
    startWithSources({{"ZEM_SIM_KEYPAD", "1"}}, "vnc:size=320x240:port=5900:mmsize=85x64");
    ASSERT_TRUE(zemtest::waitFor([] { return zemtest::tcpPortOpen(5900); }, 10s));
    window(0, 0, 0, 1920, 1080, 0);
    window(1, 1920, 0, 1920, 1080, 1);
    apply();
    const GroupDump before = dumpWhen(1, 2, 1280);
    zemtest::VncClient vnc(5900);
    ASSERT_TRUE(vnc.ok());
    vnc.key('B');
    vnc.key('K');
    const GroupDump after = dumpWhen(1, 1, 1920);
    EXPECT_EQ(after.channels.at(channelOf(after, 0, "ICH")), before.channels.at(channelOf(before, 0, "ICH")));
}

// A crop of an interlaced source counts the lines of a frame: crop (100, 50,
// 1720, 1000) of 1080i in a window of that size shows frame lines 50 to 1049
// one to one. The port's measurement finds it interlaced, so its fields are
// woven into frames packed three pixels in eight bytes.
TEST_F(WindowsE2e, CropOfAnInterlacedSourceShowsTheFrameLinesAskedFor)
{
    startWithSources({}, "offscreen", "1 1920x1080i@50\n");
    Bytes crop = le16(para::CROP_USED | 1);   // crop 1 of input 1
    for (uint16_t v : {100, 50, 1720, 1000})
        crop = cat(crop, le16(v));
    ramWrite(para::crop_record(0), crop);
    window(0, 0, 0, 1720, 1000, para::WIN_SOURCE_CROP | 0);
    apply();
    const GroupDump d = dumpWhen(0, 2, 1920);
    const std::string &ich = d.channels.at(channelOf(d, 0, "ICH")), &och = d.channels.at(channelOf(d, 0, "OCH"));
    // 1000 lines read one to one, plus the line the output reads ahead.
    EXPECT_EQ(hex(field(och, "OACT_VW")), 1001);
    EXPECT_EQ(hex(field(och, "OACT_HW")), 1720);
    // The read starts 100 pixels (266 bytes) and 49 lines of 64 KiB into the
    // frame: line 50 less the line read ahead.
    EXPECT_EQ(hex(field(och, "OSFLD0")) - hex(field(ich, "ISFLD0")), 266 + 49 * 65536);
}

} // namespace
