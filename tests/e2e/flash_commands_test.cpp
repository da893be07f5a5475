// The flash commands as the PC tool uses them against the running program:
// fonts written into the chip's flash are found after a reload and after a
// restart, the FPGA flashes and the run-log window round-trip their bytes,
// and bad requests change nothing.

#include "e2e_fixture.h"

#include <atomic>
#include <thread>

using namespace e2e;
using pctool::pattern;

namespace {

constexpr uint16_t CARD = 0x0001;


Bytes with(uint8_t status, const Bytes &data) { return cat({status}, data); }

class FlashE2e : public DeviceTest
{
protected:
    Bytes ask(const Bytes &body) { return payload(tcp->ask(body)); }
    Bytes fontStatus() { return ask(pctool::ramRead(pctool::CONTROLLER, 0x600886, 1)); }
    void connect()
    {
        tcp.reset(new TcpClient(10002));
        ASSERT_TRUE(tcp->ok());
    }

    std::unique_ptr<TcpClient> tcp;
};

TEST_F(FlashE2e, ChipFlashFontsSurviveARestart)
{
    start(false, false);
    connect();
    const uint16_t C = pctool::CONTROLLER;
    EXPECT_EQ(ask(pctool::flashErase(C, 0x04000000, 4, 1)), Bytes{0});
    EXPECT_EQ(ask(pctool::flashErase(C, 0x04010000, 1, 1)), Bytes{0});
    // Two valid 32-dot font headers, and data across page boundaries.
    EXPECT_EQ(ask(pctool::flashWrite(C, 0x04000000, {'P'})), Bytes{0});
    EXPECT_EQ(ask(pctool::flashWrite(C, 0x04010000, {'P'})), Bytes{0});
    const Bytes data = pattern(600, 3);
    EXPECT_EQ(ask(pctool::flashWrite(C, 0x040001F0, data)), Bytes{0});
    EXPECT_EQ(ask(pctool::flashRead(C, 0x040001F0, 600)), with(0, data));

    // Register 14 bit 3 reloads the fonts: both 32-dot fonts are present.
    EXPECT_EQ(ask(pctool::body(C, pctool::PC, 0xA0, 14, {0x08, 0, 0})), Bytes{0});
    EXPECT_EQ(fontStatus(), (Bytes{0, 0x03}));

    // A misaligned erase is refused and erases nothing.
    EXPECT_EQ(ask(pctool::flashErase(C, 0x04000800, 1, 1)), Bytes{1});
    EXPECT_EQ(ask(pctool::flashRead(C, 0x040001F0, 600)), with(0, data));

    dev->stop();
    start(false, false);
    connect();
    EXPECT_EQ(ask(pctool::flashRead(C, 0x040001F0, 600)), with(0, data));
    // The bring-up found the fonts by itself.
    EXPECT_TRUE(zemtest::waitFor([&] { return fontStatus() == Bytes{0, 0x03}; }, 10s)) << output();
}

TEST_F(FlashE2e, FpgaFlashesAndTheRunLogWindow)
{
    start(false, false);
    connect();
    const uint16_t C = pctool::CONTROLLER;

    // Both FPGA flashes at once, through the sending card: byte-identical.
    EXPECT_EQ(ask(pctool::flashErase(CARD, 0x00200000, 1, 1)), Bytes{0});
    const Bytes data = pattern(600, 7);
    EXPECT_EQ(ask(pctool::flashWrite(CARD, 0x002000F0, data)), Bytes{0});
    EXPECT_EQ(ask(pctool::flashRead(C, 0x012000F0, 600)), with(0, data));   // FPGA 0
    EXPECT_EQ(ask(pctool::flashRead(C, 0x032000F0, 600)), with(0, data));   // FPGA 1

    // The run-log window, at its last 4 KiB.
    EXPECT_EQ(ask(pctool::flashErase(C, 0x004BF000, 1, 1)), Bytes{0});
    const Bytes record = pattern(64, 9);
    EXPECT_EQ(ask(pctool::flashWrite(C, 0x004BF000, record)), Bytes{0});
    EXPECT_EQ(ask(pctool::flashRead(C, 0x004BF000, 64)), with(0, record));
    EXPECT_EQ(ask(pctool::flashRead(C, 0x01373000, 64)), with(0, record));   // the same cells in FPGA 0's flash
    // A write that runs past the window is refused.
    EXPECT_EQ(ask(pctool::flashWrite(C, 0x004BFFC0, pattern(100, 1))), Bytes{1});
    EXPECT_EQ(ask(pctool::flashRead(C, 0x004BFFC0, 64)), with(0, Bytes(64, 0xFF)));
    EXPECT_TRUE(dev->running());
}

// The register listing (register 161 bit 1) on one port while the PC tool
// reads 4 KiB of the chip's flash again and again on another: every read
// comes back whole, and the listing shows the input measurements.
TEST_F(FlashE2e, RegisterListingLeavesFlashReadsOfAnotherPortIntact)
{
    start(false, false);
    connect();
    const uint16_t C = pctool::CONTROLLER;
    const Bytes data = pattern(4096, 11);
    ASSERT_EQ(ask(pctool::flashErase(C, 0x04100000, 1, 1)), Bytes{0});
    for (uint32_t off = 0; off < data.size(); off += 1024)
        ASSERT_EQ(ask(pctool::flashWrite(C, 0x04100000 + off, Bytes(data.begin() + off, data.begin() + off + 1024))),
                  Bytes{0});

    // Reads back to back hold the chip's register lock nearly all the time,
    // so a listing advances slowly meanwhile: its bank 4 comes within its
    // first twentieth, well inside the reads made alongside each listing.
    constexpr int PRINTS = 3, READS_PER_PRINT = 40;
    TcpClient other(5005);
    for (int k = 0; k < PRINTS; ++k) {
        std::atomic<bool> printing{true};
        std::thread printer([&] {
            const Bytes listing = pctool::body(C, pctool::PC, 0xA0, 161, {0x02, 0, 0x02});
            EXPECT_EQ(payload(other.ask(listing, zemtest::patience(120s))), Bytes{0});
            printing = false;
        });
        for (int n = 0; n < READS_PER_PRINT && printing; ++n)
            EXPECT_EQ(payload(tcp->ask(pctool::flashRead(C, 0x04100000, 4096), zemtest::patience(30s))), with(0, data))
                << "listing " << k << ", read " << n;
        printer.join();
    }
    // Each listing holds the measurements of HDMI port 0: field width of
    // input channel 0, line total, frame period, active width.
    const std::string out = output();
    for (const std::string line : {"\nA80802  ", "\nAE0802  ", "\nAE5003  ", "\nAF0802  "}) {
        int listings = 0;
        for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1))
            ++listings;
        EXPECT_EQ(listings, PRINTS) << line;
    }
}

} // namespace
