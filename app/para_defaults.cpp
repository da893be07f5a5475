#include "app/para_defaults.h"

// The built-in parameter file is generated at compile time from the table of
// default values below, so the table reads like the image layout it mirrors.

namespace {

using namespace para;

// One default: `count` fields of `width` bytes (1 or 2) starting at image
// offset `offset`, `stride` bytes apart; field k holds value + k * step.
struct Row {
    uint32_t offset;
    uint32_t width;
    uint32_t value;
    uint32_t count = 1;
    uint32_t stride = 0;
    uint32_t step = 0;
};

constexpr uint32_t CROP_ROWS = CROP_ENTRIES + CROP_SPARE_ENTRIES;   // the spare space follows the pattern

constexpr Row kDefaults[] = {
    {LANGUAGE, 1, 0},
    {LANGUAGE_FALLBACK, 1, 0},
    {UNUSED_770, 1, 100},
    {KEY_LOCK, 2, 0},
    {WIFI_OFF, 1, 0},
    {TEST_PATTERN, 1, 0},
    {CURRENT_USER_MODE, 2, 0},
    {USER_MODE_SAVE, 2, 0},
    // Custom EDID: HDMI inputs 0..3 1920x1080@60, V-by-One inputs 4 and 5 3840x2160@60.
    {EDID_BASE + 0, 2, 1920, 4, 6},
    {EDID_BASE + 2, 2, 1080, 4, 6},
    {EDID_BASE + 24, 2, 3840, 2, 6},
    {EDID_BASE + 26, 2, 2160, 2, 6},
    {EDID_BASE + 4, 2, 60, INPUT_COUNT, 6},
    // LED wall and outputs.
    {LED_SPLICE, 1, 4},
    {LED_WIDTH, 2, 1920},
    {LED_HEIGHT, 2, 1080},
    {LED_X, 2, 0},
    {LED_Y, 2, 0},
    {OCH_NUM_H, 2, 1},
    {OCH_NUM_V, 2, 1},
    {OCH_W, 2, 1920},
    {OCH_H, 2, 1080},
    {OCH_BANDWIDTH, 2, 0},
    {OUT1_WIDTH, 2, 1920},
    {OUT1_HEIGHT, 2, 1080},
    {OUT2_X, 2, 0},
    {OUT2_Y, 2, 0},
    {OUT2_WIDTH, 2, 1920},
    {OUT2_HEIGHT, 2, 1080},
    // Crop entries (unused): id 0x0002, X 0, Y 0, W 1920, H 1080.
    {CROP_TABLE + 0, 2, 0x0002, CROP_ROWS, CROP_ENTRY_SIZE},
    {CROP_TABLE + 2, 2, 0, CROP_ROWS, CROP_ENTRY_SIZE},
    {CROP_TABLE + 4, 2, 0, CROP_ROWS, CROP_ENTRY_SIZE},
    {CROP_TABLE + 6, 2, 1920, CROP_ROWS, CROP_ENTRY_SIZE},
    {CROP_TABLE + 8, 2, 1080, CROP_ROWS, CROP_ENTRY_SIZE},
    {AUDIO_WINDOW, 2, 0},
    {POINT_TO_POINT, 2, 0},
    {LED_OFF, 2, 0},
    {SWITCH_EFFECT, 2, 0},
    {OSD_FLAG, 2, 0},
    // Picture quality.
    {BRIGHTNESS, 2, 100},
    {CONTRAST, 2, 50},
    {SHARPNESS, 2, 10},
    {SATURATION, 2, 50},
    {COLOR_TEMP, 2, 2},
    {RED_GAIN, 2, 64},
    {GREEN_GAIN, 2, 64},
    {BLUE_GAIN, 2, 64},
    // Layer priority of window i is i.
    {LAYER_PRIORITY, 2, 0, 16, 2, 1},
    {WINDOW_SETUP, 2, 1},
    // Window records: window 0 enabled, every window full-size at 0, 0.
    {window(0, WIN_ENABLE), 2, 1},
    {window(1, WIN_ENABLE), 2, 0, WINDOW_COUNT - 1, WINDOW_SIZE},
    {window(0, WIN_MIRROR), 2, 0, WINDOW_COUNT, WINDOW_SIZE},
    {window(0, WIN_SOURCE), 2, 2},
    {window(1, WIN_SOURCE), 2, 5},
    {window(2, WIN_SOURCE), 2, 3},
    {window(3, WIN_SOURCE), 2, 4},
    {window(4, WIN_SOURCE), 2, 1},
    {window(5, WIN_SOURCE), 2, 0},
    {window(0, WIN_X), 2, 0, WINDOW_COUNT, WINDOW_SIZE},
    {window(0, WIN_Y), 2, 0, WINDOW_COUNT, WINDOW_SIZE},
    {window(0, WIN_W), 2, 1920, WINDOW_COUNT, WINDOW_SIZE},
    {window(0, WIN_H), 2, 1080, WINDOW_COUNT, WINDOW_SIZE},
    {window(0, WIN_FLAGS), 2, 0, WINDOW_COUNT, WINDOW_SIZE},
    {window(0, WIN_AUDIO), 2, 0, WINDOW_COUNT, WINDOW_SIZE},
    {window(0, WIN_P2P_MODE), 2, 0, WINDOW_COUNT, WINDOW_SIZE},
    // Fade parameters (set to 60 at start-up).
    {FADE_BASE, 2, 0, FADE_COUNT * 2, 2},
};

// File form: 0xAA 0xAA, then image bytes 768..4095 at file offsets 2..3329.
constexpr uint32_t FILE_IMAGE_OFFSET = 2;
constexpr uint32_t fileOffset(uint32_t imageOffset) { return imageOffset - PERSISTENT_START + FILE_IMAGE_OFFSET; }

struct DefaultFile {
    uint8_t bytes[FILE_SIZE] = {};

    constexpr DefaultFile()
    {
        bytes[0] = FILE_MARK;
        bytes[1] = FILE_MARK;
        for (const Row &r : kDefaults) {
            for (uint32_t k = 0; k < r.count; ++k) {
                uint32_t at = fileOffset(r.offset + k * r.stride);
                uint32_t v = r.value + k * r.step;
                bytes[at] = static_cast<uint8_t>(v & 0xFF);
                if (r.width == 2)
                    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
    }
};

constexpr bool rowsInside()
{
    for (const Row &r : kDefaults) {
        if (r.width != 1 && r.width != 2)
            return false;
        if (r.offset < PERSISTENT_START || r.count == 0)
            return false;
        if (r.offset + (r.count - 1) * r.stride + r.width > IMAGE_SIZE)
            return false;
    }
    return true;
}
static_assert(rowsInside(), "every default lies in the persistent part of the image");
static_assert(fileOffset(IMAGE_SIZE) == 3330, "the image ends at file byte 3329");

constexpr DefaultFile kDefaultFile;

} // namespace

const uint8_t (&default_para_ramlist)[para::FILE_SIZE] = kDefaultFile.bytes;
