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
    bool printed(const std::string &text) const { return output().find(text) != std::string::npos; }
};

TEST_F(InputsE2e, PluggedSourcesReachTheImageAndTheChip)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());

    writeInputs("2 1920x1080@60\n");
    const Bytes input2 = {0, 0x80, 0x07, 0x38, 0x04, 60, 0};
    EXPECT_TRUE(zemtest::waitFor([&] { return timing(tcp, 2) == input2; }, 5s)) << output();

    // Window 0 shows input 2, as the PC tool sets it: RAM write, register 11.
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, para::window(0, para::WIN_SOURCE), {2, 0}))),
              Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 11, {0x02, 0, 0}))), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, para::window(0, para::WIN_SOURCE), 2))),
              (Bytes{0, 2, 0}));

    // The window on input 0 (chip port 3) follows a new source there: the
    // port is measured anew and its window programmed again.
    writeInputs("2 1920x1080@60\n0 1280x720@50\n");
    EXPECT_TRUE(zemtest::waitFor([&] { return printed("PortInfo Updated.  port=3  STATE=4  IP=0  HTOTAL=1560"); },
                                 5s))
        << output();
    EXPECT_TRUE(zemtest::waitFor([&] { return printed("[c331_main]PI_UPDATE[3]=1"); }, 5s));

    // Unplugged: no timing, and the background on the port's window.
    writeInputs("2 none\n0 none\nbad line\n");
    EXPECT_TRUE(zemtest::waitFor([&] { return timing(tcp, 2) == Bytes(7, 0) && timing(tcp, 0) == Bytes(7, 0); }, 5s));
    EXPECT_TRUE(zemtest::waitFor([&] { return printed("[set_input_bkg] port_3, onoff:1"); }, 5s)) << output();
    EXPECT_TRUE(printed("/sim/inputs line 3 ignored"));
    EXPECT_TRUE(dev->running());
}

} // namespace
