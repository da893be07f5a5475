#ifndef APP_PARA_LAYOUT_H
#define APP_PARA_LAYOUT_H

// Byte offsets of the 4096-byte parameter image. The PC tool reads and writes
// the image by these offsets, so they are fixed. 16-bit fields are
// little-endian; flags are bits of 16-bit words. Bytes 0..767 are volatile,
// 768..4095 persistent.

#include <cstdint>

namespace para {

constexpr uint32_t IMAGE_SIZE = 4096;
constexpr uint32_t PERSISTENT_START = 768;
constexpr uint32_t PERSISTENT_SIZE = IMAGE_SIZE - PERSISTENT_START;   // 3328

// Input timing p (0..5): width, height, rate word at 256 + 6p.
constexpr uint32_t INPUT_TIMING = 256;
constexpr uint32_t INPUT_COUNT = 6;
constexpr uint32_t timing_record(uint32_t p) { return INPUT_TIMING + 6 * p; }

constexpr uint32_t LANGUAGE = 768;          // u8 front-panel language 0..4
constexpr uint32_t LANGUAGE_FALLBACK = 769; // u8 cleared when the language falls back
constexpr uint32_t UNUSED_770 = 770;        // u8, default 100
constexpr uint32_t KEY_LOCK = 772;          // u16
constexpr uint32_t WIFI_OFF = 774;          // u8
constexpr uint32_t TEST_PATTERN = 864;      // u8 0 off, 1..20
constexpr uint32_t CURRENT_USER_MODE = 866; // u16 1..16, 0 none
constexpr uint32_t USER_MODE_SAVE = 868;    // u16 save request N
constexpr uint32_t VOLATILE_869 = 869;      // u8 cleared at start-up

// Custom EDID of input p: width, height, refresh at 896 + 6p.
constexpr uint32_t EDID_BASE = 896;
constexpr uint32_t edid_record(uint32_t p) { return EDID_BASE + 6 * p; }

constexpr uint32_t LED_SPLICE = 1376;       // u8 2 vertical, 3 horizontal, 4 copy
constexpr uint32_t LED_WIDTH = 1378;
constexpr uint32_t LED_HEIGHT = 1380;
constexpr uint32_t LED_X = 1382;
constexpr uint32_t LED_Y = 1384;
constexpr uint32_t OCH_NUM_H = 1386;
constexpr uint32_t OCH_NUM_V = 1388;
constexpr uint32_t OCH_W = 1390;
constexpr uint32_t OCH_H = 1392;
constexpr uint32_t OCH_BANDWIDTH = 1394;
constexpr uint32_t OUT1_WIDTH = 1412;
constexpr uint32_t OUT1_HEIGHT = 1414;
constexpr uint32_t OUT2_X = 1416;
constexpr uint32_t OUT2_Y = 1418;
constexpr uint32_t OUT2_WIDTH = 1420;
constexpr uint32_t OUT2_HEIGHT = 1422;

// Crop table: 40 entries of id, X, Y, W, H (u16 each).
constexpr uint32_t CROP_TABLE = 1472;
constexpr uint32_t CROP_ENTRY_SIZE = 10;
constexpr uint32_t CROP_ENTRIES = 40;
constexpr uint32_t CROP_SPARE = 1872;       // 24 spare entries, same pattern, not read
constexpr uint32_t CROP_SPARE_ENTRIES = 24;
constexpr uint16_t CROP_USED = 0x8000;
constexpr uint32_t CROP_X = 2;              // fields after the id word
constexpr uint32_t CROP_Y = 4;
constexpr uint32_t CROP_W = 6;
constexpr uint32_t CROP_H = 8;
constexpr uint32_t crop_record(uint32_t e) { return CROP_TABLE + CROP_ENTRY_SIZE * e; }

constexpr uint32_t AUDIO_WINDOW = 2112;
constexpr uint32_t POINT_TO_POINT = 2114;
constexpr uint32_t LED_OFF = 2116;
constexpr uint32_t SWITCH_EFFECT = 2118;
constexpr uint32_t OSD_FLAG = 2124;
constexpr uint32_t BRIGHTNESS = 2176;
constexpr uint32_t CONTRAST = 2178;
constexpr uint32_t SHARPNESS = 2180;
constexpr uint32_t SATURATION = 2182;
constexpr uint32_t COLOR_TEMP = 2184;
constexpr uint32_t RED_GAIN = 2186;
constexpr uint32_t GREEN_GAIN = 2188;
constexpr uint32_t BLUE_GAIN = 2190;
constexpr uint32_t LAYER_PRIORITY = 2208;   // u16 per window i at 2208 + 2i (16 entries)
constexpr uint32_t layer_priority(uint32_t i) { return LAYER_PRIORITY + 2 * i; }
constexpr uint32_t WINDOW_SETUP = 2270;

// Window records: 26 bytes at 2272 + 26i, i = 0..5.
constexpr uint32_t WINDOW_BASE = 2272;
constexpr uint32_t WINDOW_SIZE = 26;
constexpr uint32_t WINDOW_COUNT = 6;
constexpr uint32_t WIN_ENABLE = 0;          // bit 0 enabled
constexpr uint32_t WIN_MIRROR = 4;
constexpr uint32_t WIN_SOURCE = 8;          // bit 15 crop, low byte source or crop entry
constexpr uint32_t WIN_X = 10;
constexpr uint32_t WIN_Y = 12;
constexpr uint32_t WIN_W = 14;
constexpr uint32_t WIN_H = 16;
constexpr uint32_t WIN_FLAGS = 18;          // bit 0 black, 1 freeze, 2 fade, 8 point-to-point
constexpr uint32_t WIN_AUDIO = 20;          // bit 15 mute
constexpr uint32_t WIN_P2P_MODE = 22;
constexpr uint16_t WIN_FLAG_BLACK = 0x0001;
constexpr uint16_t WIN_FLAG_FREEZE = 0x0002;
constexpr uint16_t WIN_FLAG_FADE = 0x0004;
constexpr uint16_t WIN_FLAG_P2P = 0x0100;
constexpr uint16_t WIN_SOURCE_CROP = 0x8000;

constexpr uint32_t window(uint32_t i, uint32_t field) { return WINDOW_BASE + WINDOW_SIZE * i + field; }

// Fade parameters: u16 at 2816 + 4k and 2818 + 4k, k = 0..15.
constexpr uint32_t FADE_BASE = 2816;
constexpr uint32_t FADE_COUNT = 16;
constexpr uint32_t fade_in(uint32_t k) { return FADE_BASE + 4 * k; }
constexpr uint32_t fade_out(uint32_t k) { return FADE_BASE + 4 * k + 2; }

// User-mode slots: mark 0xAA 0xAA (saved) or 0xFF 0xFF (empty), then a copy of
// image bytes 896..4095; image offset r lies at slot offset r - 894.
constexpr uint32_t MODE_COUNT = 16;
constexpr uint32_t SLOT_SIZE = 4098;
constexpr uint32_t SLOT_FILE_SIZE = 4096;
constexpr uint32_t SLOT_IMAGE_START = 896;
constexpr uint32_t SLOT_DATA = 2;
constexpr uint32_t SLOT_DATA_SIZE = IMAGE_SIZE - SLOT_IMAGE_START;   // 3200
constexpr uint32_t slotOffset(uint32_t imageOffset) { return imageOffset - SLOT_IMAGE_START + SLOT_DATA; }

// The persistent file: 0xAA 0xAA, then image bytes 768..4095, zero to 4096.
constexpr uint32_t FILE_SIZE = 4096;
constexpr uint32_t FILE_MARK = 0xAA;

constexpr uint32_t REGISTER_FILE_SIZE = 37;
constexpr uint32_t STATUS_PAGE_SIZE = 1024;

inline uint16_t get16(const uint8_t *b, uint32_t off) { return static_cast<uint16_t>(b[off] | (b[off + 1] << 8)); }
inline void set16(uint8_t *b, uint32_t off, uint16_t v)
{
    b[off] = static_cast<uint8_t>(v & 0xFF);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline uint32_t get32(const uint8_t *b, uint32_t off)
{
    return uint32_t(b[off]) | (uint32_t(b[off + 1]) << 8) | (uint32_t(b[off + 2]) << 16) | (uint32_t(b[off + 3]) << 24);
}
inline void set32(uint8_t *b, uint32_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace para

#endif
