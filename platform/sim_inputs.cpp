#include "platform/sim_inputs.h"

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sim_c331.h"
#include "platform/spi.h"

#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>

namespace platform {
namespace sim {
namespace inputs {
namespace {

// Blanking of every simulated source: 280 pixels per line, 45 lines per
// frame (22 per field when interlaced).
constexpr int H_FRONT = 88, H_SYNC = 44, H_BACK = 148;
constexpr int V_BLANK = 45, V_FRONT = 4, V_SYNC = 5;
constexpr int FIELD_V_FRONT = 2;

constexpr int MIN_SIZE = 16, MAX_SIZE = 8000;
constexpr double MAX_RATE = 240.0;
// An HDMI receiver puts two pixels on each clock of its parallel bus above this.
constexpr uint32_t DUAL_PIXEL_ABOVE_KHZ = 165000;
// What one V-by-One lane carries at most when the lane count is not given.
constexpr uint32_t LANE_KHZ = 75000;
constexpr int VBO_FIRST_INPUT = 4;
// The input of source 2, which window 1 shows by default.
constexpr int WINDOW1_DEFAULT_INPUT = 2;

// Board wiring: the chip port each input's receiver feeds.
constexpr int CHIP_PORT_OF_INPUT[COUNT] = {3, 2, 1, 0, 5, 4};

struct State {
    std::mutex mutex;
    Source sources[COUNT];
    std::string content;                      // the file as last applied
    std::chrono::steady_clock::time_point lastLook;
    bool looked = false;
    std::weak_ptr<SimC331> chip;              // the chip model last brought up to date
};

// What a first run shows: input 0, and the input of window 1's default
// source (HDMI3), so that the wall starts with a picture.
Source defaultSource(int input)
{
    Source s;
    if (input == 0 || input == WINDOW1_DEFAULT_INPUT) {
        s.plugged = true;
        s.width = 1920;
        s.height = 1080;
        s.rate = 60;
    }
    return s;
}

State &state()
{
    static State *s = [] {
        auto *st = new State;
        for (int i = 0; i < COUNT; ++i)
            st->sources[i] = defaultSource(i);
        return st;
    }();
    return *s;
}

uint8_t lanesFor(uint32_t pclkKhz)
{
    for (uint8_t lanes : {1, 2, 4})
        if (pclkKhz <= LANE_KHZ * lanes)
            return lanes;
    return 8;
}

std::shared_ptr<SimC331> attachedChip()
{
    return std::dynamic_pointer_cast<SimC331>(spi::sim::attached(devices::CHIP_SPI));
}

void showOnChip(SimC331 &chip, int input, const Source &source)
{
    const int port = CHIP_PORT_OF_INPUT[input];
    if (!source.plugged) {
        chip.inputs().unplug(port);
        return;
    }
    const Timing t = timingOf(input, source);
    SimC331Inputs::Signal signal;
    signal.htotal = t.htotal;
    signal.vtotal = t.vtotal;
    signal.hactive = t.hact;
    signal.rate = t.rate;
    signal.lanes = t.lanes;
    chip.inputs().plug(port, signal);
}

// Called with the state's lock held.
void syncChipLocked(State &s, bool force)
{
    std::shared_ptr<SimC331> chip = attachedChip();
    if (!chip || (!force && s.chip.lock() == chip))
        return;
    s.chip = chip;
    for (int i = 0; i < COUNT; ++i)
        showOnChip(*chip, i, s.sources[i]);
}

void applyContentLocked(State &s, const std::string &content)
{
    std::istringstream in(content);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        int input = 0;
        Source source;
        std::string error;
        if (!parseLine(line, input, source, error)) {
            std::fprintf(stderr, "%s line %d ignored: %s\n", path(FILE_PATH).c_str(), number, error.c_str());
            continue;
        }
        s.sources[input] = source;
        if (std::shared_ptr<SimC331> chip = s.chip.lock())
            showOnChip(*chip, input, source);
    }
}

// A decimal number of digits; values with more than six digits read as a
// million (beyond every limit here).
long number(const std::string &digits)
{
    return digits.size() > 6 ? 1000000 : std::stol(digits);
}

// The parts of a line "N none" or "N WIDTHxHEIGHT[i]@RATE[ lanes=K]", with
// blanks around them as the user likes.
struct Fields {
    std::string input, width, height, rate, lanes;
    bool none = false;
    bool interlaced = false;
    bool hasLanes = false;
};

// Reads a line from left to right, one character class at a time.
class Scanner
{
public:
    explicit Scanner(const std::string &line) : m_line(line) {}
    bool blanks()
    {
        const size_t from = m_at;
        while (m_at < m_line.size() && std::isspace(static_cast<unsigned char>(m_line[m_at])))
            ++m_at;
        return m_at > from;
    }
    // One or more digits; false when there is none.
    bool digits(std::string &out)
    {
        const size_t from = m_at;
        while (m_at < m_line.size() && std::isdigit(static_cast<unsigned char>(m_line[m_at])))
            ++m_at;
        out = m_line.substr(from, m_at - from);
        return !out.empty();
    }
    bool literal(const char *text)
    {
        const size_t n = std::strlen(text);
        if (m_line.compare(m_at, n, text) != 0)
            return false;
        m_at += n;
        return true;
    }
    bool atEnd() const { return m_at == m_line.size(); }
    size_t at() const { return m_at; }
    void rewind(size_t to) { m_at = to; }

private:
    const std::string &m_line;
    size_t m_at = 0;
};

bool scanSource(Scanner &in, Fields &f)
{
    if (!in.digits(f.width) || !in.literal("x") || !in.digits(f.height))
        return false;
    f.interlaced = in.literal("i");
    if (!in.literal("@") || !in.digits(f.rate))
        return false;
    std::string fraction;
    if (in.literal(".")) {
        if (!in.digits(fraction))
            return false;
        f.rate += "." + fraction;
    }
    const size_t beforeLanes = in.at();
    f.hasLanes = in.blanks() && in.literal("lanes=");
    if (f.hasLanes)
        return in.digits(f.lanes);
    in.rewind(beforeLanes);
    return true;
}

bool scan(const std::string &line, Fields &f)
{
    Scanner in(line);
    in.blanks();
    if (!in.digits(f.input) || !in.blanks())
        return false;
    f.none = in.literal("none");
    if (!f.none && !scanSource(in, f))
        return false;
    in.blanks();
    return in.atEnd();
}

} // namespace

bool parseLine(const std::string &line, int &input, Source &source, std::string &error)
{
    if (line.size() > MAX_LINE) {
        error = "the line is longer than " + std::to_string(MAX_LINE) + " characters";
        return false;
    }
    Fields f;
    if (!scan(line, f)) {
        error = "\"" + line + "\" is neither \"N WIDTHxHEIGHT@RATE\" nor \"N none\"";
        return false;
    }
    const long n = number(f.input);
    if (n >= COUNT) {
        error = "there is no input " + f.input;
        return false;
    }
    Source s;
    if (f.none) {
        input = static_cast<int>(n);
        source = s;
        return true;
    }
    const long w = number(f.width);
    const long h = number(f.height);
    const double rate = f.rate.size() > 12 ? 0.0 : std::stod(f.rate);
    if (w < MIN_SIZE || w > MAX_SIZE || h < MIN_SIZE || h > MAX_SIZE) {
        error = "width and height must lie in " + std::to_string(MIN_SIZE) + ".." + std::to_string(MAX_SIZE);
        return false;
    }
    if (!(rate > 0 && rate <= MAX_RATE)) {
        error = "the rate must lie above 0 and at most 240";
        return false;
    }
    s.interlaced = f.interlaced;
    // A V-by-One receiver measures every source as progressive.
    if (s.interlaced && n >= VBO_FIRST_INPUT) {
        error = "the V-by-One inputs 4 and 5 take progressive sources only";
        return false;
    }
    if (s.interlaced && h % 2) {
        error = "an interlaced picture has an even height";
        return false;
    }
    if (f.hasLanes) {
        const long lanes = number(f.lanes);
        if (n < VBO_FIRST_INPUT) {
            error = "lanes are given for the V-by-One inputs 4 and 5 only";
            return false;
        }
        if (lanes != 1 && lanes != 2 && lanes != 4 && lanes != 8) {
            error = "lanes must be 1, 2, 4 or 8";
            return false;
        }
        s.lanes = static_cast<uint8_t>(lanes);
    }
    s.plugged = true;
    s.width = static_cast<uint16_t>(w);
    s.height = static_cast<uint16_t>(h);
    s.rate = rate;
    input = static_cast<int>(n);
    source = s;
    return true;
}

Timing timingOf(int input, const Source &source)
{
    Timing t{};
    t.hact = source.width;
    t.hsync = H_SYNC;
    t.hback = H_BACK;
    t.htotal = static_cast<uint16_t>(source.width + H_FRONT + H_SYNC + H_BACK);
    t.interlaced = source.interlaced;
    t.vsync = V_SYNC;
    if (source.interlaced) {
        t.vact = static_cast<uint16_t>(source.height / 2);
        t.vtotal = static_cast<uint16_t>((source.height + V_BLANK) / 2);
        t.vback = static_cast<uint16_t>(t.vtotal - t.vact - FIELD_V_FRONT - V_SYNC);
    } else {
        t.vact = source.height;
        t.vtotal = static_cast<uint16_t>(source.height + V_BLANK);
        t.vback = static_cast<uint16_t>(V_BLANK - V_FRONT - V_SYNC);
    }
    t.rate = source.rate;
    t.pclkKhz = static_cast<uint32_t>(std::lround(double(t.htotal) * t.vtotal * t.rate / 1000.0));
    if (input >= VBO_FIRST_INPUT)
        t.lanes = source.lanes ? source.lanes : lanesFor(t.pclkKhz);
    else
        t.dualPixel = t.pclkKhz > DUAL_PIXEL_ABOVE_KHZ;
    return t;
}

void plug(int input, const Source &source)
{
    if (input < 0 || input >= COUNT)
        return;
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sources[input] = source;
    syncChipLocked(s, false);
    if (std::shared_ptr<SimC331> chip = s.chip.lock())
        showOnChip(*chip, input, source);
}

Source current(int input)
{
    if (input < 0 || input >= COUNT)
        return Source{};
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.sources[input];
}

void reset()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (int i = 0; i < COUNT; ++i)
        s.sources[i] = defaultSource(i);
    s.content.clear();
    s.looked = false;
    syncChipLocked(s, true);
}

void poll(bool now)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    syncChipLocked(s, false);
    const auto at = std::chrono::steady_clock::now();
    if (!now && s.looked && at - s.lastLook < std::chrono::milliseconds(LOOK_MS))
        return;
    s.looked = true;
    s.lastLook = at;
    std::string content;
    if (!files::readAll(FILE_PATH, files::Kind::SimInputs, content) || content == s.content)
        return;
    s.content = content;
    applyContentLocked(s, content);
}

} // namespace inputs
} // namespace sim
} // namespace platform
