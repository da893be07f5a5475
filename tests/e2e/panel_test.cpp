// The front panel of the running program as a person uses it, through its
// VNC server: the LED wall size set on the LED page reaches the image and
// the apply pass; a crop added, edited and deleted on the crop page is what
// the PC tool reads back; the picture page's brightness field takes typed
// values and follows the PC tool's. A picture of each state is taken by the
// program's own capture and saved into the build directory.

#include "app/para_layout.h"
#include "e2e_fixture.h"
#include "support/vnc_client.h"

#include <QDir>
#include <QImage>
#include <csignal>

using namespace e2e;
using zemtest::VncClient;

namespace {

constexpr int VNC_PORT = 5900;
constexpr uint32_t RETURN = 0xFF0D;   // keysym of Return

class FrontPanelE2e : public DeviceTest
{
protected:
    // Starts the program on Qt's VNC platform and unlocks the status screen.
    void startPanel()
    {
        start(false, false, "vnc:size=320x240:port=5900:mmsize=85x64");
        ASSERT_TRUE(zemtest::waitFor([] { return zemtest::tcpPortOpen(VNC_PORT); }, 10s));
        vnc.reset(new VncClient(VNC_PORT));
        ASSERT_TRUE(vnc->ok());
        EXPECT_EQ(vnc->width(), 320);
        EXPECT_EQ(vnc->height(), 240);
        tcp.reset(new TcpClient(5005));
        ASSERT_TRUE(tcp->ok());
        ASSERT_TRUE(waitPage(0));
        vnc->key(VncClient::ESCAPE);
        ASSERT_TRUE(waitPage(1));
    }

    bool waitPage(int id)
    {
        const std::string want = "page_focus " + std::to_string(id) + "\n";
        return zemtest::waitFor([&] { return file("/sim/status").rfind(want, 0) == 0; }, 10s);
    }

    // From the page in front: `tabs` steps of the focus, then the button there.
    void open(int tabs, int id)
    {
        vnc->keys(VncClient::TAB, tabs);
        vnc->key(VncClient::SPACE);
        ASSERT_TRUE(waitPage(id)) << file("/sim/status");
    }

    // Types `text` into the field that has the focus, replacing what it held.
    void replaceField(const std::string &text)
    {
        vnc->key(VncClient::END);
        vnc->keys(VncClient::BACKSPACE, 6);
        vnc->type(text);
    }

    Bytes ramRead(uint32_t address, uint16_t len)
    {
        const Bytes data = payload(tcp->ask(pctool::ramRead(pctool::CONTROLLER, address, len)));
        return data.size() == len + 1u && data[0] == 0 ? Bytes(data.begin() + 1, data.end()) : Bytes();
    }

    uint16_t word(uint32_t address)
    {
        const Bytes b = ramRead(address, 2);
        return b.size() == 2 ? uint16_t(b[0] | (b[1] << 8)) : 0xFFFF;
    }

    uint16_t cropWord(int entry, int field)
    {
        return word(para::CROP_TABLE + 10 * entry + 2 * field);
    }

    // The panel as the PC tool reads it: the capture header, then the PNG.
    Bytes capture()
    {
        const Bytes header = ramRead(0x800000, 16);
        if (header.size() != 16)
            return {};
        const uint32_t len = header[12] | (header[13] << 8) | (header[14] << 16) | (uint32_t(header[15]) << 24);
        Bytes png;
        for (uint32_t off = 0; off < len + 2; off += 4096) {
            const Bytes part = ramRead(0x800080 + off, uint16_t(std::min<uint32_t>(4096, len + 2 - off)));
            png.insert(png.end(), part.begin(), part.end());
        }
        return png.size() == len + 2 ? Bytes(png.begin() + 2, png.end()) : Bytes();
    }

    // Waits for the panel to show something new and to settle (two captures
    // alike), and saves it as <name>.png in the build directory.
    void screenshot(const std::string &name)
    {
        Bytes png, before;
        EXPECT_TRUE(zemtest::waitFor([&] {
            before = png;
            png = capture();
            return !png.empty() && png == before && png != lastShot;
        }, 10s)) << name;
        lastShot = png;
        QImage img;
        ASSERT_TRUE(img.loadFromData(png.data(), int(png.size()), "PNG")) << name;
        EXPECT_EQ(img.size(), QSize(320, 240));
        QDir().mkpath(QStringLiteral(ZEM_SCREENSHOT_DIR));
        EXPECT_TRUE(img.save(QStringLiteral(ZEM_SCREENSHOT_DIR "/%1.png").arg(QString::fromStdString(name))));
    }

    // The capture decoded; a null picture when there is none.
    QImage picture()
    {
        const Bytes png = capture();
        QImage img;
        img.loadFromData(png.data(), int(png.size()), "PNG");
        return img.convertToFormat(QImage::Format_RGB32);
    }

    // The picture that kill -USR1 saves.
    QImage savedPicture()
    {
        ::unlink(root.host("/sim/panel.done").c_str());
        if (kill(dev->pid(), SIGUSR1) != 0 || !zemtest::waitFor([&] { return exists("/sim/panel.done"); }, 10s))
            return {};
        return QImage(QString::fromStdString(root.host("/sim/panel.png"))).convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<VncClient> vnc;
    std::unique_ptr<TcpClient> tcp;
    Bytes lastShot;
};

bool allOneColour(const QImage &img)
{
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != img.pixel(0, 0))
                return false;
    return true;
}

// Without a display (Qt's offscreen platform) the picture is the page in
// front with the values in force: after start-up the status screen, whose
// line for window 1 follows the source the PC tool sets. The PC tool's
// capture and the picture kill -USR1 saves are alike.
TEST_F(FrontPanelE2e, OffscreenPictureIsThePageInFrontWithTheValuesInForce)
{
    start(false, false);
    tcp.reset(new TcpClient(5005));
    ASSERT_TRUE(tcp->ok());
    ASSERT_TRUE(waitPage(0));
    const QImage hdmi3 = picture();   // window 1 shows HDMI3, 1920x1080@60
    ASSERT_EQ(hdmi3.size(), QSize(320, 240));
    // The status screen has no buttons: its lower quarter is bare, where the
    // home screen has its four.
    EXPECT_TRUE(allOneColour(hdmi3.copy(0, 180, 320, 60)));

    const auto showSource = [this](uint8_t source) {
        const uint32_t word = para::window(0, para::WIN_SOURCE);
        EXPECT_EQ(payload(tcp->ask(pctool::ramWrite(pctool::CONTROLLER, word, {source, 0}))), Bytes{0});
        EXPECT_EQ(payload(tcp->ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0}))), Bytes{0});
    };
    showSource(1);   // HDMI2, no signal
    EXPECT_TRUE(zemtest::waitFor([&] {
        const QImage hdmi2 = picture();
        return !hdmi2.isNull() && hdmi2 != hdmi3;
    }, 10s));
    EXPECT_TRUE(zemtest::waitFor([&] { return savedPicture() == picture(); }, 10s));
    showSource(2);
    EXPECT_TRUE(zemtest::waitFor([&] { return picture() == hdmi3; }, 10s));
    EXPECT_TRUE(dev->running());
}

TEST_F(FrontPanelE2e, WallSizeSetOnTheLedPageReachesTheImageAndTheApplyPass)
{
    startPanel();
    open(2, 5);   // Setting
    open(0, 6);   // Output
    open(0, 13);  // LED wall: the width field has the focus
    replaceField("2560");
    vnc->key(VncClient::TAB);
    replaceField("1440");
    vnc->key(VncClient::TAB);
    vnc->key(VncClient::SPACE);   // splice mode: copy -> vertical
    vnc->key(VncClient::TAB);
    vnc->key(VncClient::SPACE);   // Save

    const Bytes want = {2, 0, 0x00, 0x0A, 0xA0, 0x05};   // splice 2, 2560, 1440
    EXPECT_TRUE(zemtest::waitFor([&] { return ramRead(para::LED_SPLICE, 6) == want; }, 10s))
        << zemtest::readFile(root.host("/sim/status"));
    // The apply pass set the panel up: a vertical splice of 2560 x 1440 (the
    // first output 1080 high) is one output across and two down, channels of
    // 2560 x 1080. Its notification had the image stored.
    const Bytes outputs = {1, 0, 2, 0, 0x00, 0x0A, 0x38, 0x04};
    EXPECT_TRUE(zemtest::waitFor([&] { return ramRead(para::OCH_NUM_H, 8) == outputs; }, 10s))
        << ::testing::PrintToString(ramRead(para::OCH_NUM_H, 8));
    EXPECT_TRUE(zemtest::waitFor([&] {
        const std::string stored = file("/data/ram_device_info");
        const size_t at = 2 + para::LED_SPLICE - para::PERSISTENT_START;
        return stored.size() == 4096 && Bytes(stored.begin() + at, stored.begin() + at + 6) == want;
    }, 10s));
    EXPECT_TRUE(dev->running());
}

TEST_F(FrontPanelE2e, CropAddedEditedAndDeletedOnThePanelIsWhatThePcToolReads)
{
    startPanel();
    open(2, 5);   // Setting
    open(1, 7);   // Input crop, source 3 (the first window's): the X field has the focus
    screenshot("crop-page");

    for (const char *v : {"100", "50", "640", "360"}) {
        replaceField(v);
        vnc->key(VncClient::TAB);
    }
    vnc->keys(VncClient::TAB, 2);   // past Source and Next crop
    vnc->key(VncClient::SPACE);                // Add
    EXPECT_TRUE(zemtest::waitFor([&] { return cropWord(0, 0) == 0x8002; }, 10s));
    EXPECT_EQ(ramRead(para::CROP_TABLE, 10), (Bytes{0x02, 0x80, 100, 0, 50, 0, 0x80, 2, 0x68, 1}));
    screenshot("crop-added");

    vnc->keys(VncClient::TAB, 6);   // Save, Delete, Back, X, Y, W
    replaceField("800");
    vnc->keys(VncClient::TAB, 5);   // H, Source, Next crop, Add, Save
    vnc->key(VncClient::SPACE);
    EXPECT_TRUE(zemtest::waitFor([&] { return cropWord(0, 3) == 800; }, 10s));
    EXPECT_EQ(cropWord(0, 0), 0x8002);
    screenshot("crop-edited");

    vnc->key(VncClient::TAB);   // Delete
    vnc->key(VncClient::SPACE);
    EXPECT_TRUE(zemtest::waitFor([&] { return (cropWord(0, 0) & 0x8000) == 0; }, 10s));
    screenshot("crop-deleted");
    EXPECT_TRUE(dev->running());
}

// The picture page opens on the brightness field: "60" and Return set 60,
// and the next digit starts a new value: "3" and Return set 3. The PC tool
// then sets 66 and applies it: the field, not edited since, shows 66, and
// Return there writes nothing; an edit of it is written.
TEST_F(FrontPanelE2e, BrightnessFieldTakesTheFirstDigitAndFollowsThePcTool)
{
    startPanel();
    open(2, 5);   // Setting
    open(5, 11);  // Picture
    open(0, 19);  // Quality
    vnc->type("60");
    vnc->key(RETURN);
    EXPECT_TRUE(zemtest::waitFor([&] { return word(para::BRIGHTNESS) == 60; }, 10s)) << word(para::BRIGHTNESS);
    vnc->type("3");
    vnc->key(RETURN);
    EXPECT_TRUE(zemtest::waitFor([&] { return word(para::BRIGHTNESS) == 3; }, 10s)) << word(para::BRIGHTNESS);
    screenshot("quality-typed");

    EXPECT_EQ(payload(tcp->ask(pctool::ramWrite(pctool::CONTROLLER, para::BRIGHTNESS, {66, 0}))), Bytes{0});
    EXPECT_EQ(payload(tcp->ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0}))), Bytes{0});
    screenshot("quality-after-pc-tool");   // the field now shows 66

    vnc->key(RETURN);
    EXPECT_FALSE(zemtest::waitFor([&] { return word(para::BRIGHTNESS) != 66; }, 1s)) << word(para::BRIGHTNESS);
    vnc->type("67");
    vnc->key(RETURN);
    EXPECT_TRUE(zemtest::waitFor([&] { return word(para::BRIGHTNESS) == 67; }, 10s)) << word(para::BRIGHTNESS);
    EXPECT_TRUE(dev->running());
}

} // namespace
