// The simulated sources: the inputs file, and what a plugged source shows on
// the input's receiver and on the chip port it feeds.

#include "platform/devices.h"
#include "platform/i2c.h"
#include "platform/platform.h"
#include "platform/sim_c331.h"
#include "platform/sim_inputs.h"
#include "platform/spi.h"
#include "support/temp_root.h"

#include <memory>
#include <string>
#include <thread>

namespace {

namespace inputs = platform::sim::inputs;
namespace rx = platform::i2c::rx;
using platform::sim::SimC331;
using platform::sim::SimC331Inputs;

// What the chip answers to a read over its bus: bank select, then one read
// frame per byte (little-endian).
uint32_t busRead(SimC331 &chip, uint8_t bank, uint8_t sub, unsigned width = 1)
{
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) {
        uint8_t tx[4] = {0x80, bank, uint8_t(sub + i), 0xFF}, rxb[4] = {};
        platform::spi::Xfer x;
        x.tx = tx;
        x.rx = rxb;
        x.len = 4;
        chip.transfer(x);
        v |= uint32_t(rxb[3]) << (8 * i);
    }
    return v;
}

TEST(SimInputsFile, LinesAreReadOrRefusedWithAReason)
{
    struct Case {
        const char *line;
        int input;
        uint16_t w, h;
        double rate;
        bool interlaced;
        uint8_t lanes;
    } good[] = {
        {"2 1920x1080@60", 2, 1920, 1080, 60, false, 0},
        {"  2   1920x1080i@50  ", 2, 1920, 1080, 50, true, 0},
        {"0 1920x1080@59.94", 0, 1920, 1080, 59.94, false, 0},
        {"4 3840x2160@60 lanes=8", 4, 3840, 2160, 60, false, 8},
        {"5 1920x1080@60 lanes=2", 5, 1920, 1080, 60, false, 2},
        {"\t3 720x576i@50\t\r", 3, 720, 576, 50, true, 0},
        {"1 16x16@60", 1, 16, 16, 60, false, 0},   // the smallest picture
        {"1 8000x8000@1", 1, 8000, 8000, 1, false, 0},
    };
    for (const Case &c : good) {
        SCOPED_TRACE(c.line);
        int input = -1;
        inputs::Source s;
        std::string error;
        ASSERT_TRUE(inputs::parseLine(c.line, input, s, error)) << error;
        EXPECT_EQ(input, c.input);
        EXPECT_TRUE(s.plugged);
        EXPECT_EQ(s.width, c.w);
        EXPECT_EQ(s.height, c.h);
        EXPECT_DOUBLE_EQ(s.rate, c.rate);
        EXPECT_EQ(s.interlaced, c.interlaced);
        EXPECT_EQ(s.lanes, c.lanes);
    }
    const char *const bad[] = {
        "6 1920x1080@60",
        "2 1920x1080@60 lanes=2",   // lanes only on the V-by-One inputs
        "4 1920x1080@60 lanes=3",
        "1 720x575i@50",            // interlaced heights are even
        "4 1920x1080i@50",          // V-by-One receivers take progressive video only
        "5 720x576i@50",
        "1 15x16@60",
        "1 16x8001@60",
        "1 0x1080@60",
        "1 1920x1080@0",
        "1 1920x1080@",
        "1 1920x1080",
        "1 nothing",
        "1none",
        "1 1920x1080@60.",
        "1 1920 x1080@60",
        "4 1920x1080@60 lanes=",
        "1 1920x1080@60 extra",
        "9999999999999999999999 none",
        "1 1920x1080@99999999999999999999999999999999999",
    };
    for (const char *line : bad) {
        int input = -1;
        inputs::Source s;
        std::string error;
        EXPECT_FALSE(inputs::parseLine(line, input, s, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    int input = -1;
    inputs::Source s;
    std::string error;
    ASSERT_TRUE(inputs::parseLine("3 none", input, s, error));
    EXPECT_EQ(input, 3);
    EXPECT_FALSE(s.plugged);
}

// A line is read without recursion, so its length cannot exhaust the stack;
// lines longer than 200 characters are refused like any malformed one.
TEST(SimInputsFile, OverLongLinesAreRefusedWithoutQuotingThem)
{
    const std::string padded = "2 1920x1080@60" + std::string(200 - 14, ' ');
    const struct {
        std::string line;
        bool good;
    } cases[] = {
        {std::string(30000, '7'), false},
        {"1" + std::string(30000, ' ') + "none", false},
        {"2 1920x1080@60" + std::string(30000, '0'), false},
        {padded, true},
        {padded + " ", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.size());
        int input = -1;
        inputs::Source s;
        std::string error;
        EXPECT_EQ(inputs::parseLine(c.line, input, s, error), c.good) << error;
        EXPECT_LT(error.size(), 100u);
    }
}

// Interlaced field lengths and two pixels per clock show in the chip's and
// the receivers' tests; the lane count is the sources' own choice.
TEST(SimInputsFile, VByOneSourcesUseAsFewLanesAsTheirClockAllows)
{
    const struct {
        const char *line;
        uint8_t lanes;
    } cases[] = {{"4 1920x1080@60", 2}, {"4 3840x2160@60", 8}, {"5 3840x2160@60 lanes=4", 4}, {"1 1920x1080@60", 0}};
    for (const auto &c : cases) {
        int input;
        inputs::Source s;
        std::string error;
        ASSERT_TRUE(inputs::parseLine(c.line, input, s, error)) << c.line;
        EXPECT_EQ(inputs::timingOf(input, s).lanes, c.lanes) << c.line;
    }
}

class SimSources : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        platform::spi::sim::detachAll();
        chip = std::make_shared<SimC331>();
        platform::spi::sim::attach(platform::devices::CHIP_SPI, chip);
        platform::i2c::sim::reset();
    }
    void TearDown() override
    {
        platform::spi::sim::detachAll();
        platform::i2c::sim::reset();
    }
    void writeInputs(const std::string &text)
    {
        platform::ensureDir("/sim");
        zemtest::writeFile(root.host(inputs::FILE_PATH), text);
    }
    uint8_t receiverReg(int input, uint8_t reg)
    {
        uint8_t block[256];
        auto dev = platform::i2c::sim::receiver(input);
        uint8_t ptr = 0;
        dev->write(&ptr, 1);
        dev->read(block, rx::BLOCK_SIZE);
        return block[reg];
    }
    uint32_t receiverWord(int input, uint8_t reg)
    {
        return receiverReg(input, reg) | uint32_t(receiverReg(input, reg + 1)) << 8;
    }

    std::shared_ptr<SimC331> chip;
};

TEST_F(SimSources, FileLinesPlugTheReceiverAndTheChipPortConsistently)
{
    // Without a file: inputs 0 and 2 (chip ports 3 and 1) show 1920x1080@60,
    // input 1 (port 2) nothing.
    inputs::poll(true);
    EXPECT_TRUE(chip->inputs().plugged(3));
    EXPECT_TRUE(chip->inputs().plugged(1));
    EXPECT_FALSE(chip->inputs().plugged(2));
    EXPECT_EQ(receiverWord(0, rx::HACT), 1920u);
    EXPECT_EQ(receiverWord(2, rx::VTOTAL), 1125u);

    writeInputs("2 1280x720@50\n\n5 3840x2160@30 lanes=4\nbogus line\n0 none\n");
    testing::internal::CaptureStderr();
    inputs::poll(true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(root.host(inputs::FILE_PATH) + " line 4 ignored"), std::string::npos) << err;

    EXPECT_EQ(receiverReg(0, rx::STATUS), 0);
    EXPECT_FALSE(chip->inputs().plugged(3));
    // Input 2 reaches chip port 1: the receiver's timing and the chip's
    // measurement (200 MHz counts) describe the same 1280x720@50.
    EXPECT_EQ(receiverReg(2, rx::STATUS) & (rx::STATUS_SIGNAL | rx::STATUS_STABLE),
              rx::STATUS_SIGNAL | rx::STATUS_STABLE);
    EXPECT_EQ(receiverWord(2, rx::HTOTAL), 1560u);
    EXPECT_EQ(receiverWord(2, rx::VTOTAL), 765u);
    EXPECT_EQ(busRead(*chip, 0xAE, 0x08 + 2, 2) + 1, 1560u);       // HTOTAL of port 1
    EXPECT_EQ(busRead(*chip, 0xAE, 0x20 + 2, 2), 765u);            // VTOTAL
    EXPECT_EQ(busRead(*chip, 0xAE, 0x50 + 3, 3) + 1, 4000000u);    // FVM: 200 MHz / 50 Hz
    EXPECT_EQ(busRead(*chip, 0xAE, 0x38 + 2, 2) + 1, 5229u);       // FHW: one line
    EXPECT_EQ(busRead(*chip, 0xAF, 0x08 + 2, 2), 1280u);           // ACTHW
    // Input 5 reaches V-by-One receiver 0 (port 4) on four lanes.
    EXPECT_EQ(receiverReg(5, rx::LANES), 4);
    EXPECT_EQ(busRead(*chip, 0xAE, 0x10, 2) + 1, 4120u);
    EXPECT_EQ(busRead(*chip, 0xB2, 0x63), 0x20);                      // receiver 0 locked
    EXPECT_NE(busRead(*chip, 0xAE, 0x5C + 3, 3), 0xFFFFFFu);        // sub-channel 1 in use
    EXPECT_EQ(busRead(*chip, 0xAE, 0x5C + 6, 3), 0xFFFFFFu);        // sub-channel 2 not

    // A later change replaces only the inputs it names.
    writeInputs("2 none\n");
    inputs::poll(true);
    EXPECT_FALSE(chip->inputs().plugged(1));
    EXPECT_TRUE(chip->inputs().plugged(4));
    EXPECT_EQ(receiverReg(2, rx::STATUS), 0);
    EXPECT_EQ(busRead(*chip, 0xAE, 0x08 + 2, 2), 0xFFFFu);          // no lock: all ones
}

// A chip model attached after the sources were plugged (the program opens
// the chip after the board) is brought up to date.
TEST_F(SimSources, ChipAttachedLaterSeesThePluggedSources)
{
    writeInputs("1 1920x1080i@50\n");
    inputs::poll(true);
    auto later = std::make_shared<SimC331>();
    platform::spi::sim::attach(platform::devices::CHIP_SPI, later);
    inputs::poll();
    EXPECT_TRUE(later->inputs().plugged(2));
    EXPECT_EQ(busRead(*later, 0xAE, 0x20 + 4, 2), 562u);   // one field
    EXPECT_EQ(busRead(*later, 0xAE, 0x50 + 6, 3) + 1, 4000000u);
}

SimC331Inputs::Signal signal1080p60()
{
    SimC331Inputs::Signal s;
    s.htotal = 2200;
    s.vtotal = 1125;
    s.hactive = 1920;
    s.rate = 60;
    return s;
}

// The source file's watcher unplugs a port while the chip thread reads it:
// both sides take the ports' lock (the thread checker sees one that does not).
TEST(SimChipInputs, UnplugWhileThePortIsReadTakesThePortsLock)
{
    SimC331Inputs inputs;
    inputs.plug(0, signal1080p60());
    std::thread watcher([&inputs] { inputs.unplug(0); });
    (void)inputs.plugged(0);   // before or after the unplug
    watcher.join();
    EXPECT_FALSE(inputs.plugged(0));
}

TEST(SimChipInputs, MeasurementLockAndFieldCountersHonourTheirBusySwitches)
{
    SimC331 chip;
    SimC331Inputs::Signal s = signal1080p60();
    s.lanes = 2;
    chip.inputs().plug(4, s);
    auto read = [&](uint8_t bank, uint8_t sub) { return busRead(chip, bank, sub); };
    // Busy for two reads of the frame period, then measured.
    chip.inputs().setMeasureBusy(4, 2);
    EXPECT_EQ(read(0xAE, 0x5C), 0xFF);
    EXPECT_EQ(read(0xAE, 0x10), 0xFF);
    EXPECT_EQ(read(0xAE, 0x5C), 0xFF);
    EXPECT_EQ(read(0xAE, 0x10), uint8_t(2199));
    chip.inputs().setMeasureBusy(4, SimC331Inputs::NEVER);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(read(0xAE, 0x5C), 0xFF);
    chip.inputs().setMeasureBusy(4, 0);

    // Lock bit of receiver 0, clear for one read.
    chip.setReg(0xB2, 0x63, 0x01);
    chip.inputs().setLockBusy(0, 1);
    EXPECT_EQ(read(0xB2, 0x63), 0x01);
    EXPECT_EQ(read(0xB2, 0x63), 0x21);

    // Field counters step on every read unless held.
    EXPECT_EQ(read(0xAB, 0x47), 0x00);
    EXPECT_EQ(read(0xAB, 0x47), 0x05);
    chip.inputs().setFieldBusy(0, 2);
    EXPECT_EQ(read(0xAB, 0x47), 0x0A);
    EXPECT_EQ(read(0xAB, 0x47), 0x0A);
    EXPECT_EQ(read(0xAB, 0x47), 0x0A);
    EXPECT_EQ(read(0xAB, 0x47), 0x0F);
}

} // namespace

namespace {

void busWrite(SimC331 &chip, uint8_t bank, uint8_t sub, uint8_t value)
{
    uint8_t tx[4] = {0x80, bank, uint8_t(0x80 | sub), value};
    platform::spi::Xfer x;
    x.tx = tx;
    x.len = 4;
    chip.transfer(x);
}

} // namespace

// Bits 3..2 of a field register are the slot input channel i's writer is in:
// it follows the frames while the writer runs and stays put while it is
// stopped, or where a test pins it.
TEST(SimChipInputs, StoppedOrPinnedWriterKeepsItsSlot)
{
    SimC331 chip;
    auto slot = [&](uint8_t sub) { return (busRead(chip, 0xAB, sub) >> 2) & 3; };
    EXPECT_EQ(slot(0x48), 0u);
    EXPECT_EQ(slot(0x48), 1u);
    busWrite(chip, 0x20, 0x09, 2);   // channel 1 stops writing in slot 2
    EXPECT_EQ(slot(0x48), 2u);
    EXPECT_EQ(slot(0x48), 2u);
    EXPECT_EQ(busRead(chip, 0xAB, 0x48) & 3, 0u) << "the output field goes on";
    busWrite(chip, 0x20, 0x09, 1);
    EXPECT_EQ(slot(0x48), 1u);

    chip.inputs().pinWriteSlot(7, 3);
    EXPECT_EQ(slot(0x4E), 3u);
    EXPECT_EQ(slot(0x4E), 3u);
    chip.inputs().pinWriteSlot(7, -1);
    EXPECT_EQ(slot(0x4E), 2u);
}
