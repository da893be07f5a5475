// The command protocol over the RS-485 line of the running program: RAM
// write and read of the parameter image and the user-mode slots, the
// single-parameter write, frames that get no reply, and the screen capture.

#include "app/para_layout.h"
#include "e2e_fixture.h"

#include <QImage>

using namespace e2e;

namespace {

class Rs485E2e : public DeviceTest
{
protected:
    Bytes ask(const Bytes &body, std::chrono::milliseconds timeout = zemtest::patience(3000ms))
    {
        return askPty(*rs485, pctool::frame(body), timeout);
    }
    Bytes ramRead(uint32_t address, uint16_t len) { return payload(ask(pctool::ramRead(pctool::CONTROLLER, address, len))); }
};

TEST_F(Rs485E2e, RamWriteReadSingleParametersBadFramesAndCapture)
{
    start(true, false);

    // Write, then read back, image bytes including the frame's special bytes.
    Bytes r = ask(pctool::ramWrite(pctool::CONTROLLER, 200, {0xA5, 0x5A, 0xA6, 0x5B}));
    ASSERT_EQ(r.size(), 12u) << output();
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), (Bytes{0x10, 0xF0, 0x01, 0xF1}));   // addresses swapped
    EXPECT_EQ(r[9], 0x60);
    EXPECT_EQ(payload(r), Bytes{0});
    EXPECT_EQ(ramRead(200, 4), (Bytes{0, 0xA5, 0x5A, 0xA6, 0x5B}));

    // Four bytes at 4094 would run past the image: status 1, nothing changed.
    const Bytes before = ramRead(4092, 4);
    ASSERT_EQ(before.size(), 5u);
    EXPECT_EQ(payload(ask(pctool::ramWrite(pctool::CONTROLLER, 4094, {1, 2, 3, 4}))), Bytes{1});
    EXPECT_EQ(ramRead(4092, 4), before);

    // AA AA at the start of slot 3 marks user mode 3 saved.
    EXPECT_EQ(payload(ask(pctool::ramWrite(pctool::CONTROLLER, 0x3000, {0xAA, 0xAA}))), Bytes{0});
    EXPECT_EQ(ramRead(0x3000, 2), (Bytes{0, 0xAA, 0xAA}));

    // 0xB0: brightness 150 is out of range, the colour-temperature preset is taken.
    const Bytes brightness = ramRead(para::BRIGHTNESS, 2);
    const uint8_t preset = ramRead(para::COLOR_TEMP, 2).at(1) == 1 ? 2 : 1;
    EXPECT_EQ(payload(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, 6, 150, 0, 10, preset, 0}))),
              (Bytes{0, 0x31}));
    EXPECT_EQ(ramRead(para::COLOR_TEMP, 2), (Bytes{0, preset, 0}));
    EXPECT_EQ(ramRead(para::BRIGHTNESS, 2), brightness);

    // No reply: unknown command, bad XOR, a body shorter than a header.
    EXPECT_TRUE(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0x62, 0), 300ms).empty());
    Bytes bad = pctool::withXor(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    bad.back() ^= 0xFF;
    EXPECT_TRUE(askPty(*rs485, pctool::frameRaw(bad), 300ms).empty());
    EXPECT_TRUE(askPty(*rs485, {0xA5, 0x01, 0x02, 0x03, 0x5A}, 300ms).empty());
    EXPECT_TRUE(askPty(*rs485, pctool::frame({0x01, 0xF1, 0x10, 0xF0, 1, 0, 0, 0}), 300ms).empty());

    // The line still answers; the device identity word.
    EXPECT_EQ(ramRead(0x600440, 2), (Bytes{0, 0x52, 0x97}));

    // Screen capture: the header window, then AA AA and a PNG of the panel.
    Bytes header = ramRead(0x800000, 16);
    ASSERT_EQ(header.size(), 17u) << output();
    EXPECT_EQ(header[1], 0xAA);
    EXPECT_EQ(header[2], 0xAA);
    EXPECT_EQ(header[3], 0x40);
    const uint32_t len = header[13] | (header[14] << 8) | (header[15] << 16) | (uint32_t(header[16]) << 24);
    ASSERT_GT(len, 0u);
    ASSERT_LT(len, 60000u);
    Bytes png = ramRead(0x800080, uint16_t(len + 2));
    ASSERT_EQ(png.size(), len + 3);
    EXPECT_EQ(png[1], 0xAA);
    EXPECT_EQ(png[2], 0xAA);
    QImage img;
    ASSERT_TRUE(img.loadFromData(png.data() + 3, int(len), "PNG"));
    EXPECT_EQ(img.size(), QSize(320, 240));
    EXPECT_TRUE(dev->running());
}

} // namespace
