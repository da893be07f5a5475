#include "app/para_defaults.h"

#include <gtest/gtest.h>

namespace {

using namespace para;

// Reads a default of the image (image offset) out of the file form.
uint16_t def16(uint32_t imageOffset) { return get16(default_para_ramlist, imageOffset - PERSISTENT_START + 2); }
uint8_t def8(uint32_t imageOffset) { return default_para_ramlist[imageOffset - PERSISTENT_START + 2]; }

TEST(ParaDefaults, FileFormMarkAndZeroTail)
{
    EXPECT_EQ(default_para_ramlist[0], 0xAA);
    EXPECT_EQ(default_para_ramlist[1], 0xAA);
    for (uint32_t i = 3330; i < FILE_SIZE; ++i)
        ASSERT_EQ(default_para_ramlist[i], 0) << i;
}

TEST(ParaDefaults, WindowsAsShipped)
{
    const uint16_t sources[WINDOW_COUNT] = {2, 5, 3, 4, 1, 0};
    for (uint32_t i = 0; i < WINDOW_COUNT; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(def16(window(i, WIN_ENABLE)), i == 0 ? 1 : 0);
        EXPECT_EQ(def16(window(i, WIN_SOURCE)), sources[i]);
        EXPECT_EQ(def16(window(i, WIN_X)) | def16(window(i, WIN_Y)) | def16(window(i, WIN_FLAGS)), 0);
        EXPECT_EQ(def16(window(i, WIN_W)), 1920);
        EXPECT_EQ(def16(window(i, WIN_H)), 1080);
    }
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(def16(LAYER_PRIORITY + 2 * i), i);
    for (uint32_t k = 0; k < 2 * FADE_COUNT; ++k)
        EXPECT_EQ(def16(FADE_BASE + 2 * k), 0);
}

TEST(ParaDefaults, SingleFieldsAsShipped)
{
    const struct { uint32_t offset, width, value; } fields[] = {
        {LANGUAGE, 1, 0}, {UNUSED_770, 1, 100}, {LED_SPLICE, 1, 4}, {LED_WIDTH, 2, 1920},
        {LED_HEIGHT, 2, 1080}, {OCH_NUM_H, 2, 1}, {OCH_NUM_V, 2, 1}, {OCH_W, 2, 1920},
        {OCH_H, 2, 1080}, {OUT1_WIDTH, 2, 1920}, {OUT2_HEIGHT, 2, 1080}, {BRIGHTNESS, 2, 100},
        {CONTRAST, 2, 50}, {SHARPNESS, 2, 10}, {SATURATION, 2, 50}, {COLOR_TEMP, 2, 2},
        {RED_GAIN, 2, 64}, {GREEN_GAIN, 2, 64}, {BLUE_GAIN, 2, 64}, {WINDOW_SETUP, 2, 1},
        {AUDIO_WINDOW, 2, 0}, {OSD_FLAG, 2, 0},
    };
    for (const auto &f : fields)
        EXPECT_EQ(f.width == 1 ? def8(f.offset) : def16(f.offset), f.value) << f.offset;
    for (uint32_t p = 0; p < INPUT_COUNT; ++p) {
        EXPECT_EQ(def16(EDID_BASE + 6 * p), p < 4 ? 1920 : 3840) << p;
        EXPECT_EQ(def16(EDID_BASE + 6 * p + 2), p < 4 ? 1080 : 2160) << p;
        EXPECT_EQ(def16(EDID_BASE + 6 * p + 4), 60) << p;
    }
}

TEST(ParaDefaults, CropEntriesAndSpareSpaceUnused)
{
    // 40 entries and the 24 spare ones up to 2111 share the unused pattern.
    for (uint32_t e = 0; e < CROP_ENTRIES + CROP_SPARE_ENTRIES; ++e) {
        uint32_t at = CROP_TABLE + CROP_ENTRY_SIZE * e;
        SCOPED_TRACE(e);
        EXPECT_EQ(def16(at), 0x0002);
        EXPECT_EQ(def16(at + 2), 0);
        EXPECT_EQ(def16(at + 4), 0);
        EXPECT_EQ(def16(at + 6), 1920);
        EXPECT_EQ(def16(at + 8), 1080);
    }
    EXPECT_EQ(CROP_SPARE + CROP_ENTRY_SIZE * CROP_SPARE_ENTRIES, 2112u);
}

} // namespace
