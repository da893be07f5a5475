#include "videoio/edid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace edid {
namespace {

// Reduced blanking: fixed horizontal blanking, at least 460 us of vertical blanking.
constexpr int RB_HBLANK = 160;
constexpr int RB_HFRONT = 48;
constexpr int RB_HSYNC = 32;
constexpr int RB_VFRONT = 3;
constexpr int RB_VSYNC = 5;
constexpr int RB_VBACK_MIN = 6;
constexpr double RB_MIN_VBLANK_US = 460.0;

void checksum(uint8_t *block)
{
    uint8_t sum = 0;
    for (int i = 0; i < 127; ++i)
        sum = static_cast<uint8_t>(sum + block[i]);
    block[127] = static_cast<uint8_t>(0x100 - sum);
}

void detailedTiming(uint8_t *d, const Timing &t)
{
    int hb = t.hblank, vb = t.vblank;
    int hf = t.hfront, hs = t.hsync, vf = t.vfront, vs = t.vsync;
    d[0] = t.pixelClock10kHz & 0xFF;
    d[1] = (t.pixelClock10kHz >> 8) & 0xFF;
    d[2] = t.hactive & 0xFF;
    d[3] = hb & 0xFF;
    d[4] = static_cast<uint8_t>(((t.hactive >> 8) << 4) | ((hb >> 8) & 0x0F));
    d[5] = t.vactive & 0xFF;
    d[6] = vb & 0xFF;
    d[7] = static_cast<uint8_t>(((t.vactive >> 8) << 4) | ((vb >> 8) & 0x0F));
    d[8] = hf & 0xFF;
    d[9] = hs & 0xFF;
    d[10] = static_cast<uint8_t>(((vf & 0x0F) << 4) | (vs & 0x0F));
    d[11] = static_cast<uint8_t>((((hf >> 8) & 3) << 6) | (((hs >> 8) & 3) << 4) | (((vf >> 4) & 3) << 2) |
                                 ((vs >> 4) & 3));
    // Image size in mm (a nominal 16:9 panel), no border.
    d[12] = 0x00;
    d[13] = 0x00;
    d[14] = 0x00;
    d[15] = 0;
    d[16] = 0;
    d[17] = 0x1A;   // digital separate sync, hsync +, vsync - (reduced blanking)
}

void textDescriptor(uint8_t *d, uint8_t tag, const char *text)
{
    std::memset(d, 0, 18);
    d[3] = tag;
    size_t n = std::min<size_t>(std::strlen(text), 13);
    std::memcpy(d + 5, text, n);
    if (n < 13) {
        d[5 + n] = 0x0A;
        for (size_t i = n + 1; i < 13; ++i)
            d[5 + i] = 0x20;
    }
}

int timingFor(int hz, int width, int height, Timing &t)
{
    t.hactive = width;
    t.hfront = RB_HFRONT;
    t.hsync = RB_HSYNC;
    t.hblank = RB_HBLANK;
    t.vactive = height;
    t.vfront = RB_VFRONT;
    t.vsync = RB_VSYNC;
    double linePeriodUs = (1e6 / hz - RB_MIN_VBLANK_US) / height;
    int vbi = static_cast<int>(std::floor(RB_MIN_VBLANK_US / linePeriodUs)) + 1;
    t.vblank = std::max(vbi, RB_VFRONT + RB_VSYNC + RB_VBACK_MIN);
    double clk = double(t.hactive + t.hblank) * double(t.vactive + t.vblank) * hz;
    // The descriptor holds the clock in 10 kHz steps, at most 655.35 MHz.
    return static_cast<int>(std::floor(clk / 10000.0));
}

} // namespace

Timing reducedBlanking(int width, int height, int hz)
{
    if (width <= 0 || height <= 0 || hz <= 0) {
        width = 1920;
        height = 1080;
        hz = 60;
    }
    width = std::clamp(width, MIN_ACTIVE, MAX_ACTIVE);
    height = std::clamp(height, MIN_ACTIVE, MAX_ACTIVE);
    hz = std::clamp(hz, MIN_HZ, MAX_HZ);
    Timing t{};
    int clk = timingFor(hz, width, height, t);
    t.pixelClock10kHz = clk <= 0xFFFF ? static_cast<uint32_t>(clk) : 0;
    return t;
}

bool build(int width, int height, int hz, uint8_t out[SIZE])
{
    Timing t = reducedBlanking(width, height, hz);
    bool fits = t.pixelClock10kHz != 0;
    if (!fits) {
        // Lower the rate until the clock fits the descriptor.
        int rate = std::clamp(hz, MIN_HZ, MAX_HZ);
        while (rate > MIN_HZ && !t.pixelClock10kHz)
            t = reducedBlanking(t.hactive, t.vactive, --rate);
        if (!t.pixelClock10kHz)
            t.pixelClock10kHz = 0xFFFF;
    }

    std::memset(out, 0, SIZE);
    uint8_t *b = out;
    static const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::memcpy(b, header, 8);
    // Maker id "ZEM" in 5-bit letters.
    uint16_t id = static_cast<uint16_t>((('Z' - '@') << 10) | (('E' - '@') << 5) | ('M' - '@'));
    b[8] = id >> 8;
    b[9] = id & 0xFF;
    b[10] = 0x47;   // product code
    b[11] = 0x52;
    b[16] = 1;      // week
    b[17] = 30;     // year - 1990
    b[18] = 1;      // EDID 1.3
    b[19] = 3;
    b[20] = 0x80;   // digital input
    b[21] = 0x35;   // 53 x 30 cm
    b[22] = 0x1E;
    b[23] = 0x78;   // gamma 2.2
    b[24] = 0x0A;   // RGB colour, preferred timing in descriptor 1
    // sRGB-like chromaticity.
    static const uint8_t chroma[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    std::memcpy(b + 25, chroma, 10);
    b[35] = 0x21;   // 640x480@60, 800x600@60
    b[36] = 0x08;   // 1024x768@60
    b[37] = 0x00;
    for (int i = 38; i < 54; ++i)
        b[i] = 0x01;  // unused standard timings
    detailedTiming(b + 54, t);
    // Range limits: 24..120 Hz vertical, 15..max kHz horizontal, pixel clock in 10 MHz steps.
    uint8_t *r = b + 72;
    r[3] = 0xFD;
    r[5] = MIN_HZ;
    r[6] = MAX_HZ;
    r[7] = 15;
    r[8] = 255;
    r[9] = static_cast<uint8_t>(std::min<uint32_t>(255, (t.pixelClock10kHz + 999) / 1000));
    r[10] = 0x00;
    r[11] = 0x0A;
    for (int i = 12; i < 18; ++i)
        r[i] = 0x20;
    textDescriptor(b + 90, 0xFC, "ZEM LED PROC");
    textDescriptor(b + 108, 0xFF, "0001");
    b[126] = 1;     // one extension block
    checksum(b);

    // CEA-861 extension: basic audio, an audio block (2-channel LPCM) and a
    // speaker allocation block; the detailed timing repeats the preferred one.
    uint8_t *c = out + 128;
    c[0] = 0x02;
    c[1] = 0x03;
    c[3] = 0x40;    // basic audio, no native formats listed
    int p = 4;
    c[p++] = (1 << 5) | 3;          // audio data block, 3 bytes
    c[p++] = (1 << 3) | 1;          // LPCM, 2 channels
    c[p++] = 0x07;                  // 32, 44.1, 48 kHz
    c[p++] = 0x07;                  // 16, 20, 24 bit
    c[p++] = (4 << 5) | 3;          // speaker allocation block
    c[p++] = 0x01;                  // front left/right
    c[p++] = 0x00;
    c[p++] = 0x00;
    c[p++] = (3 << 5) | 5;          // vendor block: HDMI licensing id, physical address 1.0.0.0
    c[p++] = 0x03;
    c[p++] = 0x0C;
    c[p++] = 0x00;
    c[p++] = 0x10;
    c[p++] = 0x00;
    c[2] = static_cast<uint8_t>(p);
    detailedTiming(c + p, t);
    checksum(c);
    return fits;
}

bool valid(const uint8_t in[SIZE])
{
    static const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (std::memcmp(in, header, 8) != 0)
        return false;
    for (int blk = 0; blk < 2; ++blk) {
        uint8_t sum = 0;
        for (int i = 0; i < 128; ++i)
            sum = static_cast<uint8_t>(sum + in[128 * blk + i]);
        if (sum != 0)
            return false;
    }
    return in[126] == 1 && in[128] == 0x02;
}

} // namespace edid
