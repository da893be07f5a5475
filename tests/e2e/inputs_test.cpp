// Sources plugged into the running program through $ZEM_ROOT/sim/inputs, seen
// by the PC tool (the input timing of the image) and by the chip thread (the
// port's measurement, the window re-programmed, the no-signal background).

#include "app/para_layout.h"
#include "e2e_fixture.h"

using namespace e2e;

namespace {

class InputsE2e : public DeviceTest
{
protected:
    void writeInputs(const std::string &text) { zemtest::writeFile(root.host("/sim/inputs"), text); }
    // Image bytes 256 + 6p: width, height, rate, 0.
    Bytes timing(TcpClient &tcp, int input)
    {
        return payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, para::INPUT_TIMING + 6 * input, 6)));
    }
    // Whether the program printed `text` after the first `from` characters of its output.
    bool printed(const std::string &text, size_t from = 0) const
    {
        return output().find(text, from) != std::string::npos;
    }
    // Points window 0 at `input` as the PC tool does: RAM write, then register 11.
    void pointWindow0(TcpClient &tcp, uint8_t input)
    {
        EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, para::window(0, para::WIN_SOURCE), {input, 0}))),
                  Bytes{0});
        EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0}))), Bytes{0});
    }
};

TEST_F(InputsE2e, PluggedSourceReachesTheImageTheChipAndTheWindow)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    pointWindow0(tcp, 0);
    ASSERT_TRUE(zemtest::waitFor([&] { return printed("[c331_SetInputsource] win_0, port_3"); }, 5s)) << output();

    EXPECT_EQ(timing(tcp, 1), Bytes(7, 0));
    writeInputs("1 1920x1080@60\n");
    const Bytes input1 = {0, 0x80, 0x07, 0x38, 0x04, 60, 0};
    EXPECT_TRUE(zemtest::waitFor([&] { return timing(tcp, 1) == input1; }, 5s)) << output();

    // Window 0 on input 1 (chip port 2): the port is measured and the window
    // programmed again for it.
    pointWindow0(tcp, 1);
    EXPECT_TRUE(zemtest::waitFor([&] { return printed("[c331_SetInputsource] win_0, port_2"); }, 5s)) << output();
    EXPECT_TRUE(zemtest::waitFor([&] {
        return printed("PortInfo Updated.  port=2  STATE=4  IP=0  HTOTAL=2200  VTOTAL=1125");
    }, 5s));
    // Register 164: the window holds an input channel of port 2.
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 164, {0x01, 0, 1}))), Bytes{0});
    EXPECT_TRUE(zemtest::waitFor([&] { return printed("\twin0: port 2 ICH"); }, 5s)) << output();

    // Register 163 = 1: the port table shows the new timing.
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 163, {0x00, 0, 1}))), Bytes{0});
    EXPECT_TRUE(zemtest::waitFor([&] { return printed("htt:2200 vtt:1125 hw:1920 state:4 nosig:0"); }, 5s))
        << output();

    // Unplugged: no timing, and the background on the window.
    const size_t before = output().size();
    writeInputs("1 none\nbad line\n");
    EXPECT_TRUE(zemtest::waitFor([&] { return timing(tcp, 1) == Bytes(7, 0); }, 5s));
    EXPECT_TRUE(zemtest::waitFor([&] { return printed("[set_input_bkg] port_2, onoff:1", before); }, 5s))
        << output();
    EXPECT_TRUE(printed("/sim/inputs line 2 ignored", before));
    EXPECT_TRUE(dev->running());
}

// A first run, without the inputs file: window 1 shows its default source,
// HDMI3 (input 2, chip port 1), with a picture.
TEST_F(InputsE2e, FirstRunShowsASignalInWindow1)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, para::window(0, para::WIN_SOURCE), 2))),
              (Bytes{0, 2, 0}));
    EXPECT_TRUE(zemtest::waitFor([&] { return timing(tcp, 2) == Bytes({0, 0x80, 0x07, 0x38, 0x04, 60, 0}); }, 5s));
    EXPECT_TRUE(zemtest::waitFor([&] {
        return printed("PortInfo Updated.  port=1  STATE=4  IP=0  HTOTAL=2200  VTOTAL=1125");
    }, 5s)) << output();
}

} // namespace
