#ifndef VIDEOIO_EDID_H
#define VIDEOIO_EDID_H

// The EDID an input presents to its source: a base block and a CEA-861
// extension (256 bytes) whose preferred timing is the input's chosen
// resolution and refresh rate, timed with reduced blanking.

#include <cstdint>

namespace edid {

constexpr int SIZE = 256;

// Limits of a timing that fits the detailed timing descriptor.
constexpr int MIN_ACTIVE = 64;
constexpr int MAX_ACTIVE = 4095;
constexpr int MIN_HZ = 24;
constexpr int MAX_HZ = 120;

struct Timing {
    int hactive, hfront, hsync, hblank;
    int vactive, vfront, vsync, vblank;
    uint32_t pixelClock10kHz;   // 0 when the timing exceeds the descriptor's range
};

// Reduced-blanking timing of width x height at `hz`. Values outside the limits
// are clamped; 0 for any of them selects 1920 x 1080 at 60 Hz.
Timing reducedBlanking(int width, int height, int hz);

// Builds the 256-byte EDID; false when the timing's pixel clock cannot be
// expressed (the output then describes the timing at the highest rate that fits).
bool build(int width, int height, int hz, uint8_t out[SIZE]);

// True when both 128-byte blocks carry the header/tag and sum to 0 modulo 256.
bool valid(const uint8_t in[SIZE]);

} // namespace edid

#endif
