#ifndef PLATFORM_SIM_INPUTS_H
#define PLATFORM_SIM_INPUTS_H

// Video sources plugged into the simulated board's six inputs. A source is
// seen consistently by the input's receiver (its timing registers on the I2C
// bus) and by the video processing chip's port that the receiver feeds (its
// input measurement, taken with the chip's measurement clock).
//
// Users and tests plug sources through the file $ZEM_ROOT/sim/inputs, one
// line per input:
//     N WIDTHxHEIGHT@RATE            progressive, RATE in frames per second
//     N WIDTHxHEIGHTi@RATE           interlaced (inputs 0 to 3), RATE in fields per second
//     N WIDTHxHEIGHT@RATE lanes=K    inputs 4 and 5: V-by-One lanes 1, 2, 4, 8
//     N none                         nothing plugged
// Inputs not named keep their state; a malformed line (a line longer than
// MAX_LINE characters counts as one) is reported on standard error and
// ignored. Without the file inputs 0 and 2 show 1920x1080@60.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace sim {
namespace inputs {

constexpr int COUNT = 6;
constexpr const char *FILE_PATH = "/sim/inputs";
// Longest time between two looks at the file.
constexpr unsigned LOOK_MS = 250;
// Longest line read; a valid line, even padded with blanks, needs far fewer.
constexpr size_t MAX_LINE = 200;

struct Source {
    bool plugged = false;
    uint16_t width = 0;
    uint16_t height = 0;       // of the whole frame, also when interlaced
    double rate = 0;           // frames, or fields when interlaced, per second
    bool interlaced = false;
    uint8_t lanes = 0;         // V-by-One lanes; 0 = as many as the clock needs
};

// The timing a source sends: one frame, or one field when interlaced.
struct Timing {
    uint16_t hact, hsync, hback, htotal;
    uint16_t vact, vsync, vback, vtotal;
    double rate;
    uint32_t pclkKhz;
    bool interlaced;
    bool dualPixel;            // two pixels per clock on an HDMI input's parallel bus
    uint8_t lanes;             // V-by-One lanes (inputs 4 and 5), else 0
};

// Reads one line of the file. False with a reason when it is malformed.
bool parseLine(const std::string &line, int &input, Source &source, std::string &error);
// The timing of a plugged source on input `input`.
Timing timingOf(int input, const Source &source);

// Plugs (or, with source.plugged false, unplugs) a source.
void plug(int input, const Source &source);
Source current(int input);
// Inputs 0 and 2 1920x1080@60, the others nothing; the file is read afresh.
void reset();
// Looks at the file (at most every LOOK_MS, or now when `now`) and applies
// its lines when it changed; brings a newly attached chip model up to date.
void poll(bool now = false);

} // namespace inputs
} // namespace sim
} // namespace platform

#endif
