// The PC tool gives the device a new LED wall: RAM-writes its size, applies
// it with register 11, reads back what the chip derived from it, and has the
// chip manager print its output timing (register 163). A client switches the
// upgrade pop-up on, off and on again (register 10) in quick succession.

#include "app/para_layout.h"
#include "e2e_fixture.h"

using namespace e2e;

namespace {

using PanelE2e = DeviceTest;

Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }

TEST_F(PanelE2e, NewWallSizeIsAppliedPersistedAndPrinted)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());

    // Splice none, 7680 x 1280: more pixels than one channel pair carries.
    const Bytes wall = cat(cat(le16(0), le16(7680)), le16(1280));
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, para::LED_SPLICE, wall))), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0}))), Bytes{0});

    // Words 1382 to 1394: wall offset 0, 0; two outputs across, one down;
    // channels of 3840 x 1280; bandwidth 0.
    const Bytes derived = cat(cat(cat(le16(0), le16(0)), cat(le16(2), le16(1))), cat(cat(le16(3840), le16(1280)), le16(0)));
    const uint16_t span = uint16_t(derived.size());
    EXPECT_TRUE(zemtest::waitFor([&] {
        return payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, para::LED_X, span))) == cat({0}, derived);
    }, 10s));
    EXPECT_TRUE(zemtest::waitFor([&] {
        const std::string stored = file("/data/ram_device_info");
        const size_t at = para::LED_X - para::PERSISTENT_START + 2;
        return stored.size() >= at + span && Bytes(stored.begin() + long(at), stored.begin() + long(at + span)) == derived;
    }, 10s));

    // Register 163 with 0: the model dump, opened by its title and the new
    // output timing (3840 wide, total line 3916).
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 163, {0x00, 0, 0}))), Bytes{0});
    const std::string dump = "[zemDbg_c331_param] c331_param\r\n<<===OCH SPEC\r\n\tPS_ACTHW:3840\r\n";
    ASSERT_TRUE(zemtest::waitFor([&] { return output().find(dump) != std::string::npos; }, 10s)) << output();
    EXPECT_NE(output().find("\tPS_HTOTAL:3916\r\n", output().find(dump)), std::string::npos);
}

// The pop-up switched off is deleted later, after the next one is up; the
// program must keep stepping the new one and answering.
TEST_F(PanelE2e, UpgradePopUpOnOffOnKeepsTheProgramRunning)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    const Bytes on = {0xA5, 0x01, 0xF1, 0x10, 0xF0, 0x04, 0, 0, 0, 0, 0xA0, 0x0A, 0x01, 0x00, 0x01, 0xBE, 0x5A};
    Bytes off = on;
    off[14] = 0x00;
    off[15] = 0xBF;
    for (const Bytes &wire : {on, off, on})
        EXPECT_EQ(payload(tcp.askWire(wire)), Bytes{0});

    // The tick steps the pop-up every tenth tick (100 ms): a lost progress
    // widget brings the program down within the first steps.
    EXPECT_FALSE(zemtest::waitFor([&] { return !dev->running(); }, 2s)) << output();
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, para::BRIGHTNESS, 2))), (Bytes{0, 100, 0}));
}

} // namespace
