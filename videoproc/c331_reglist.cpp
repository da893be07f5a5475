// The registers the full listing reads: every bank the program uses, from
// sub-address 0x08 to 0x7F, each register with its width, so that a
// multi-byte value (a measured line total, a frame-buffer address) prints as
// one number. Sub-addresses the program does not name print a byte each.

#include "videoproc/c331_manage.h"

#include <algorithm>
#include <iterator>

namespace {

// A bank of the chip: once, or once per channel (bank + 16 x channel).
struct Bank {
    uint8_t bank;
    uint8_t copies;
};

constexpr Bank BANKS[] = {
    // Chip-wide: channel enables, selectors, update timing and packing (0x00),
    // clocks (0x01), V-by-One receivers (0x02), input pairs and transmitter
    // (0x03), memory engine and serial flash (0x04), flash pins and frame
    // status (0x05), sync polarity (0x06).
    {0x00, 1}, {0x01, 1}, {0x02, 1}, {0x03, 1}, {0x04, 1}, {0x05, 1}, {0x06, 1},
    // Per output channel: timing, output window, background and patterns
    // (0x08), OSD (0x09), zoom (0x0A), sharpness (0x0B), colour (0x0C),
    // layer mixer (0x0E).
    {0x08, 8}, {0x09, 8}, {0x0A, 8}, {0x0B, 8}, {0x0C, 8}, {0x0E, 8},
    // Per input channel: capture and colour matrix (0x10), shrink (0x11),
    // frame buffers and read addresses (0x16).
    {0x10, 8}, {0x11, 8}, {0x16, 8},
    // Per CMOS input: temporal noise reduction (0x12), deinterlacer (0x14),
    // noise reduction (0x15), deinterlacer memory (0x17).
    {0x12, 4}, {0x14, 4}, {0x15, 4}, {0x17, 4},
    // Input channel measurements (0xA8), memory write status (0xAB), input
    // port measurements (0xAE, 0xAF), identity and receiver lock (0xB2).
    {0xA8, 1}, {0xAB, 1}, {0xAE, 1}, {0xAF, 1}, {0xB2, 1},
};

// Registers wider than one byte, in the bank of the first copy: `count`
// registers from `sub`, `step` apart.
struct Wide {
    uint8_t bank, sub, width, count, step;
};

constexpr Wide WIDE[] = {
    {0x00, 0x18, 2, 1, 0}, {0x00, 0x1E, 2, 2, 2}, {0x00, 0x39, 2, 1, 0}, {0x00, 0x55, 2, 1, 0},
    {0x01, 0x09, 4, 3, 4}, {0x01, 0x29, 4, 1, 0}, {0x01, 0x40, 3, 8, 3}, {0x01, 0x58, 3, 8, 3}, {0x01, 0x70, 4, 1, 0},
    {0x02, 0x0A, 2, 1, 0}, {0x02, 0x7A, 2, 1, 0},
    {0x03, 0x09, 2, 4, 9}, {0x03, 0x0B, 2, 4, 9}, {0x03, 0x2C, 2, 1, 0}, {0x03, 0x2F, 2, 1, 0}, {0x03, 0x36, 2, 1, 0},
    {0x03, 0x39, 2, 1, 0}, {0x03, 0x46, 2, 1, 0}, {0x03, 0x4E, 2, 1, 0}, {0x03, 0x55, 4, 1, 0}, {0x03, 0x5E, 4, 2, 4},
    {0x04, 0x0B, 2, 1, 0}, {0x04, 0x0D, 4, 2, 4}, {0x04, 0x1E, 2, 2, 2}, {0x04, 0x27, 2, 1, 0}, {0x04, 0x2B, 2, 1, 0},
    {0x04, 0x4E, 4, 1, 0}, {0x04, 0x56, 4, 1, 0},
    {0x05, 0x3C, 2, 2, 2}, {0x05, 0x42, 3, 1, 0}, {0x05, 0x45, 2, 1, 0}, {0x05, 0x7E, 2, 1, 0},
    {0x06, 0x38, 4, 2, 4},
    {0x08, 0x08, 2, 3, 2}, {0x08, 0x18, 2, 1, 0}, {0x08, 0x1D, 2, 1, 0}, {0x08, 0x28, 2, 8, 2}, {0x08, 0x40, 2, 4, 2},
    {0x08, 0x49, 3, 1, 0}, {0x08, 0x5B, 2, 4, 2},
    {0x09, 0x0A, 2, 8, 2}, {0x09, 0x1A, 4, 1, 0}, {0x09, 0x40, 2, 2, 2},
    {0x0A, 0x49, 2, 1, 0}, {0x0A, 0x4E, 2, 1, 0},
    {0x0C, 0x1B, 2, 3, 2}, {0x0C, 0x28, 2, 3, 2}, {0x0C, 0x3A, 2, 3, 2}, {0x0C, 0x49, 2, 18, 2},
    {0x0E, 0x09, 4, 1, 0}, {0x0E, 0x0D, 2, 2, 2},
    {0x10, 0x17, 2, 4, 2}, {0x10, 0x29, 2, 15, 2}, {0x10, 0x4B, 3, 1, 0},
    {0x11, 0x47, 2, 1, 0}, {0x11, 0x4C, 2, 1, 0},
    {0x14, 0x08, 2, 2, 2}, {0x14, 0x0D, 2, 4, 2}, {0x14, 0x6D, 2, 1, 0},
    {0x15, 0x39, 2, 1, 0}, {0x15, 0x4D, 2, 2, 2}, {0x15, 0x54, 2, 2, 2}, {0x15, 0x5C, 2, 4, 2}, {0x15, 0x67, 2, 1, 0},
    {0x16, 0x08, 4, 10, 4}, {0x16, 0x55, 2, 3, 2}, {0x16, 0x66, 3, 1, 0}, {0x16, 0x6C, 2, 1, 0},
    {0x17, 0x08, 4, 8, 4}, {0x17, 0x59, 2, 1, 0}, {0x17, 0x5B, 4, 1, 0},
    // Input channels 0 to 3: field width and height.
    {0xA8, 0x08, 2, 4, 6}, {0xA8, 0x0A, 2, 4, 6},
    // HDMI ports 0 to 3 (step 2 or 3) and V-by-One receivers 0 and 1 (step
    // 8 or 12; the line and frame periods of their four lock sub-channels).
    {0xAE, 0x08, 2, 4, 2}, {0xAE, 0x10, 2, 2, 8}, {0xAE, 0x20, 2, 4, 2}, {0xAE, 0x28, 2, 2, 8},
    {0xAE, 0x38, 2, 4, 2}, {0xAE, 0x40, 2, 8, 2}, {0xAE, 0x50, 3, 4, 3}, {0xAE, 0x5C, 3, 8, 3},
    {0xAF, 0x08, 2, 4, 2}, {0xAF, 0x10, 2, 2, 8},
};

// Data ports: a read takes the next byte of a flash read, a character list
// or the palette, so the listing leaves them alone.
constexpr uint32_t DATA_PORTS[] = {C331_REG(0x04, 0x29, 1), C331_REG(0x04, 0x52, 1), C331_REG(0x09, 0x20, 1)};

constexpr uint32_t FIRST_SUB = 0x08, LAST_SUB = 0x7F;

// Width of the register of bank family `family` at `sub`; 1 when none is named.
uint32_t width_at(uint8_t family, uint32_t sub)
{
    for (const Wide &w : WIDE)
        for (uint32_t k = 0; w.bank == family && k < w.count; ++k)
            if (w.sub + k * w.step == sub)
                return w.width;
    return 1;
}

bool data_port(uint32_t reg)
{
    return std::find(std::begin(DATA_PORTS), std::end(DATA_PORTS), reg) != std::end(DATA_PORTS);
}

} // namespace

const std::vector<uint32_t> &c331_manage::c331_register_list()
{
    static const std::vector<uint32_t> list = [] {
        std::vector<std::pair<uint32_t, uint8_t>> banks;   // bank, its family
        for (const Bank &b : BANKS)
            for (uint32_t c = 0; c < b.copies; ++c)
                banks.emplace_back(b.bank + 16 * c, b.bank);
        std::sort(banks.begin(), banks.end());
        std::vector<uint32_t> l;
        for (const auto &b : banks) {
            for (uint32_t sub = FIRST_SUB; sub <= LAST_SUB;) {
                const uint32_t width = width_at(b.second, sub);
                const uint32_t reg = C331_REG(b.first, sub, width);
                if (!data_port(reg))
                    l.push_back(reg);
                sub += width;
            }
        }
        // The clock generator.
        for (uint32_t sub = 0x00; sub <= 0x04; ++sub)
            l.push_back(C331_REG(0xFF, sub, 1));
        l.push_back(C331_REG(0xFF, 0x05, 3));
        return l;
    }();
    return list;
}
