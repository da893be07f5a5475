#include "app/global.h"
#include "app/para_defaults.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "support/blocked_call.h"
#include "support/temp_root.h"
#include "videoproc/c331_manage.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace para;
using zemtest::readFile;
using zemtest::writeFile;

const char *const PARA_FILE = "/data/ram_device_info";

std::string defaultFile() { return std::string(reinterpret_cast<const char *>(default_para_ramlist), FILE_SIZE); }

// Image bytes 768..4095 equal the table's bytes 2..3329, except the fade
// parameters, which start-up sets to 60.
void expectDefaultImage(const ZemRamPara *s)
{
    for (uint32_t off = PERSISTENT_START; off < IMAGE_SIZE; ++off) {
        bool fade = off >= FADE_BASE && off < FADE_BASE + 4 * FADE_COUNT;
        uint8_t expected = fade ? (off % 2 == 0 ? 60 : 0) : default_para_ramlist[off - PERSISTENT_START + 2];
        ASSERT_EQ(s->ram_para[off], expected) << off;
    }
}

// A store loaded from a private root; every test starts from a fresh one.
class Store : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        ZemRamPara::resetForTest();
        c331_manage::instance()->para_changed = 0;
        g_lcd_lang_valid = 0x1F;
        g_image_current = 0;
    }
    void TearDown() override { ZemRamPara::resetForTest(); }

    ZemRamPara *load() { return ZemRamPara::pInstance(); }
    ZemRamPara *reload()
    {
        ZemRamPara::resetForTest();
        return ZemRamPara::pInstance();
    }
    std::string file(const std::string &p) const { return readFile(root.host(p)); }
    bool present(const std::string &p) const { return platform::files::exists(p); }
    uint8_t request() const { return c331_manage::instance()->para_changed; }
    void clearRequest() { c331_manage::instance()->para_changed = 0; }

    // A parameter file holding the defaults with `edit` applied to the image form.
    void writeParaFile(const std::function<void(uint8_t *image)> &edit)
    {
        uint8_t image[IMAGE_SIZE] = {};
        std::memcpy(image + PERSISTENT_START, default_para_ramlist + 2, PERSISTENT_SIZE);
        edit(image);
        std::string f = defaultFile();
        std::memcpy(&f[2], image + PERSISTENT_START, PERSISTENT_SIZE);
        writeFile(root.host(PARA_FILE), f);
    }

    // Crop entry e used by `source` with crop number `number`.
    static void useCrop(ZemRamPara *s, uint32_t e, int source, int number, uint16_t x = 0)
    {
        uint32_t at = CROP_TABLE + CROP_ENTRY_SIZE * e;
        s->setWord(at, static_cast<uint16_t>(CROP_USED | ((number - 1) << 8) | source));
        s->setWord(at + 2, x);
    }
};

// ---------------------------------------------------------------------------
// Start-up load

TEST_F(Store, MissingFileIsCreatedFromDefaults)
{
    ZemRamPara *s = load();
    EXPECT_EQ(file(PARA_FILE), defaultFile());
    expectDefaultImage(s);
    EXPECT_EQ(0, std::memcmp(s->ram_para, s->ram_para_back, IMAGE_SIZE));
    for (uint32_t i = 0; i < PERSISTENT_START; ++i)
        ASSERT_EQ(s->ram_para[i], 0) << i;
    for (uint32_t slot = 0; slot < MODE_COUNT; ++slot) {
        EXPECT_EQ(s->user_mode_ram[slot][0], 0xFF);
        EXPECT_EQ(s->user_mode_ram[slot][1], 0xFF);
        EXPECT_EQ(s->ZemUserModeSaved(slot), 0);
    }
    EXPECT_EQ(s->status_ram[0], 0x80);
    EXPECT_EQ(s->status_ram[1], 0x1F);
    EXPECT_EQ(s->status_ram[2], 0x06);
    for (uint32_t i = 3; i < STATUS_PAGE_SIZE; ++i)
        ASSERT_EQ(s->status_ram[i], 0);
    for (uint8_t r : s->reg_para)
        EXPECT_EQ(r, 0);
    for (uint32_t k = 0; k < FADE_COUNT; ++k) {
        EXPECT_EQ(s->word(FADE_BASE + 4 * k), 60);
        EXPECT_EQ(s->word(FADE_BASE + 4 * k + 2), 60);
    }
    // No file operation went through the shell.
    EXPECT_TRUE(platform::shell::sim::log().empty());
}

TEST_F(Store, FileWithWrongMarkIsReplaced)
{
    std::string bad = defaultFile();
    bad[1] = 0x00;
    bad[770 - 766] = 7;
    writeFile(root.host(PARA_FILE), bad);
    ZemRamPara *s = load();
    EXPECT_EQ(file(PARA_FILE), defaultFile());
    EXPECT_EQ(s->ram_para[UNUSED_770], 100);
}

TEST_F(Store, ValidFileIsLoadedAndKept)
{
    writeParaFile([](uint8_t *img) { img[UNUSED_770] = 7; set16(img, BRIGHTNESS, 33); });
    std::string before = file(PARA_FILE);
    ZemRamPara *s = load();
    EXPECT_EQ(s->ram_para[UNUSED_770], 7);
    EXPECT_EQ(s->word(BRIGHTNESS), 33);
    EXPECT_EQ(file(PARA_FILE), before);
}

TEST_F(Store, ShortFileKeepsDefaultsForMissingBytes)
{
    std::string f = defaultFile().substr(0, 1000);
    f[770 - 766] = 9;
    writeFile(root.host(PARA_FILE), f);
    ZemRamPara *s = load();
    EXPECT_EQ(s->ram_para[UNUSED_770], 9);
    EXPECT_EQ(s->word(BRIGHTNESS), 100);
    EXPECT_EQ(s->word(window(0, WIN_W)), 1920);
}

TEST_F(Store, VolatileWordsClearedWhateverTheFileHeld)
{
    writeParaFile([](uint8_t *img) {
        for (uint32_t i = 0; i < WINDOW_COUNT; ++i)
            set16(img, window(i, WIN_FLAGS), 0xFFFF);
        set16(img, CURRENT_USER_MODE, 5);
        set16(img, LED_OFF, 1);
        img[TEST_PATTERN] = 3;
        img[865] = 1;
        img[VOLATILE_869] = 7;
        set16(img, USER_MODE_SAVE, 4);
    });
    ZemRamPara *s = load();
    for (uint32_t i = 0; i < WINDOW_COUNT; ++i)
        EXPECT_EQ(s->word(window(i, WIN_FLAGS)), 0xFFFF & ~WIN_FLAG_FREEZE) << i;
    EXPECT_EQ(s->word(CURRENT_USER_MODE), 0);
    EXPECT_EQ(s->word(LED_OFF), 0);
    EXPECT_EQ(s->word(TEST_PATTERN), 0);
    EXPECT_EQ(s->ram_para[VOLATILE_869], 0);
    EXPECT_EQ(s->ram_para[USER_MODE_SAVE], 4);   // the save request survives
    EXPECT_EQ(s->ZemGetCurrentModeIndex(), 0);
    EXPECT_EQ(0, std::memcmp(s->ram_para, s->ram_para_back, IMAGE_SIZE));
}

TEST_F(Store, FailedWriteOfDefaultsLeavesPreviousFile)
{
    std::string bad = defaultFile();
    bad[0] = 0x00;
    writeFile(root.host(PARA_FILE), bad);
    platform::files::testing::failNextWriteAfter(100);
    ZemRamPara *s = load();
    EXPECT_EQ(file(PARA_FILE), bad);
    EXPECT_TRUE(QDir(QString::fromStdString(root.host("/data")))
                    .entryList(QStringList{"ram_device_info.tmp*"}, QDir::Files | QDir::Hidden)
                    .isEmpty());
    // The image still starts from the defaults.
    expectDefaultImage(s);
}

TEST_F(Store, LanguageFallsBackToFirstEnabledAtStart)
{
    writeParaFile([](uint8_t *img) { img[LANGUAGE] = 0; });
    g_lcd_lang_valid = (1u << 2) | (1u << 4);
    EXPECT_EQ(load()->ram_para[LANGUAGE], 2);
    EXPECT_EQ(g_language, 2);

    // Both bit 0 and bit 17 set: bit 0 is dropped (and the upper half with it).
    writeParaFile([](uint8_t *img) { img[LANGUAGE] = 0; });
    g_lcd_lang_valid = 1u | (1u << 3) | (1u << 17);
    EXPECT_EQ(reload()->ram_para[LANGUAGE], 3);
    EXPECT_EQ(g_lcd_lang_valid, 1u << 3);

    // A language byte far out of range falls back as well.
    writeParaFile([](uint8_t *img) { img[LANGUAGE] = 200; });
    g_lcd_lang_valid = 0x1F;
    EXPECT_EQ(reload()->ram_para[LANGUAGE], 0);
}

TEST_F(Store, WriteParaFileRewritesOnlyThePersistentBytes)
{
    std::string f = defaultFile();
    f[3330] = 0x5A;
    f[4095] = 0x77;
    writeFile(root.host(PARA_FILE), f);
    ZemRamPara *s = load();
    s->ram_para[UNUSED_770] = 42;
    s->ram_para[300] = 1;
    ASSERT_TRUE(s->write_para_file());
    std::string after = file(PARA_FILE);
    ASSERT_EQ(after.size(), FILE_SIZE);
    EXPECT_EQ(0, std::memcmp(after.data() + 2, s->ram_para + PERSISTENT_START, PERSISTENT_SIZE));
    EXPECT_EQ(static_cast<uint8_t>(after[0]), 0xAA);
    EXPECT_EQ(static_cast<uint8_t>(after[3330]), 0x5A);
    EXPECT_EQ(static_cast<uint8_t>(after[4095]), 0x77);

    // A write cut midway leaves the file as it was.
    s->ram_para[UNUSED_770] = 43;
    platform::files::testing::failNextWriteAfter(1000);
    EXPECT_FALSE(s->write_para_file());
    EXPECT_EQ(file(PARA_FILE), after);

    // A missing file is written anew, so the settings survive a restart.
    platform::files::remove(PARA_FILE);
    EXPECT_TRUE(s->write_para_file());
    std::string rebuilt = file(PARA_FILE);
    ASSERT_EQ(rebuilt.size(), FILE_SIZE);
    EXPECT_EQ(static_cast<uint8_t>(rebuilt[0]), 0xAA);
    EXPECT_EQ(static_cast<uint8_t>(rebuilt[1]), 0xAA);
    EXPECT_EQ(0, std::memcmp(rebuilt.data() + 2, s->ram_para + PERSISTENT_START, PERSISTENT_SIZE));
}

// ---------------------------------------------------------------------------
// Writes by offset

TEST_F(Store, ImageWritesStayInsideTheImage)
{
    ZemRamPara *s = load();
    std::vector<uint8_t> data(200, 0x5C);
    EXPECT_EQ(s->ZemRamParaDeal(data.data(), 96, 4000), 0);
    EXPECT_EQ(s->ram_para[4095], 0x5C);
    std::memset(s->ram_para + 3990, 0, 106);
    EXPECT_EQ(s->ZemRamParaDeal(data.data(), 97, 4000), 1);
    EXPECT_EQ(s->ram_para[4000], 0);
    EXPECT_EQ(s->ZemRamParaDeal(data.data(), 1, 0xFFFFFFFFu), 1);   // no wrap-around
    EXPECT_EQ(s->ZemRamParaDeal(nullptr, 0, 5000), 0);
}

TEST_F(Store, UserModeWritesStayInsideTheSlots)
{
    ZemRamPara *s = load();
    const uint8_t mark[2] = {0xAA, 0xAA};
    EXPECT_EQ(s->ZemModeUserRamParaDeal(mark, 2, 0x11000), 1);   // mode 17
    EXPECT_EQ(s->ZemModeUserRamParaDeal(mark, 2, 0x0800), 1);    // mode 0
    EXPECT_EQ(s->ZemModeUserRamParaDeal(mark, 2, 0x1000), 0);
    EXPECT_EQ(s->ZemUserModeSaved(0), 1);
    EXPECT_EQ(s->ZemModeUserRamParaDeal(mark, 1, 0x10FFF), 0);   // last byte of mode 16
    EXPECT_EQ(s->user_mode_ram[15][4095], 0xAA);
    EXPECT_EQ(s->ZemModeUserRamParaDeal(mark, 2, 0x10FFF), 1);   // would reach slot byte 4096
    EXPECT_EQ(s->user_mode_ram[15][4096], 0);
    EXPECT_EQ(s->ZemModeUserRamParaDeal(mark, 2, 0x101000), 1);  // high address bits
}

// ---------------------------------------------------------------------------
// User modes

TEST_F(Store, UserModeIndexSearchesCircularly)
{
    ZemRamPara *s = load();
    for (uint8_t start = 0; start <= 16; ++start)
        for (uint8_t dir = 0; dir <= 3; ++dir)
            ASSERT_EQ(s->ZemUserModeIndex(start, dir), 256);
    s->user_mode_ram[3][0] = s->user_mode_ram[3][1] = 0xAA;
    s->user_mode_ram[9][0] = s->user_mode_ram[9][1] = 0xAA;
    s->user_mode_ram[5][0] = 0xAA;   // half a mark is not saved
    const struct { uint8_t start, direction; int slot; } cases[] = {
        {9, 2, 9}, {9, 1, 3}, {3, 0, 9}, {0, 0, 9}, {4, 2, 9}, {16, 2, 3},
        {3, 1, 9}, {15, 1, 3}, {16, 1, 256}, {16, 0, 256},
    };
    for (const auto &c : cases)
        EXPECT_EQ(s->ZemUserModeIndex(c.start, c.direction), c.slot) << int(c.start) << "/" << int(c.direction);
    EXPECT_EQ(s->ZemUserModeIndex(17, 2), 256);
    EXPECT_EQ(s->ZemUserModeIndex(3, 3), 256);
    EXPECT_EQ(s->ZemUserModeSaved(16), 0);
    EXPECT_EQ(s->ZemUserModeSaved(-1), 0);
}

// The search reaches both ends of the ring in every direction: slot 15 alone
// saved, then slot 0 alone.
TEST_F(Store, UserModeIndexReachesTheFirstAndTheLastSlot)
{
    ZemRamPara *s = load();
    const struct { uint8_t saved, start, direction; int slot; } cases[] = {
        {15, 0, 2, 15}, {15, 15, 2, 15}, {15, 16, 2, 15}, {15, 0, 1, 15}, {15, 14, 1, 15}, {15, 15, 1, 15},
        {15, 0, 0, 15}, {15, 15, 0, 15},
        {0, 15, 2, 0}, {0, 16, 2, 0}, {0, 15, 1, 0}, {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 15, 0, 0}, {0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        for (auto &slot : s->user_mode_ram)
            slot[0] = slot[1] = 0xFF;
        s->user_mode_ram[c.saved][0] = s->user_mode_ram[c.saved][1] = 0xAA;
        EXPECT_EQ(s->ZemUserModeIndex(c.start, c.direction), c.slot)
            << int(c.saved) << ": " << int(c.start) << "/" << int(c.direction);
    }
}

TEST_F(Store, UserModeSaveLoadDeleteThroughFiles)
{
    writeFile(root.host("/data/configs/omenu.json"), "{\"menu\":1}");
    ZemRamPara *s = load();
    s->setWord(OSD_FLAG, 1);
    uint8_t *slot = s->user_mode_ram[9];
    std::memcpy(slot + 2, s->ram_para + SLOT_IMAGE_START, SLOT_DATA_SIZE);
    slot[4000] = 0x42;   // carried through the file unchanged
    slot[4096] = 0x99;   // never stored
    ASSERT_EQ(s->mode_file_write(9, 0), 1);
    EXPECT_EQ(s->ZemUserModeSaved(9), 1);
    std::string saved = file("/data/modes/custom_mode10");
    ASSERT_EQ(saved.size(), SLOT_FILE_SIZE);
    EXPECT_EQ(0, std::memcmp(saved.data(), slot, SLOT_FILE_SIZE));
    EXPECT_EQ(file("/data/modes/MO0a.json"), "{\"menu\":1}");

    // Flag 2 rewrites the mode without the OSD copy.
    ASSERT_EQ(s->mode_file_write(2, 2), 1);
    EXPECT_FALSE(present("/data/modes/MO03.json"));

    // A fresh start finds both modes.
    s = reload();
    EXPECT_EQ(s->ZemUserModeSaved(9), 1);
    EXPECT_EQ(s->ZemUserModeSaved(2), 1);
    EXPECT_EQ(s->user_mode_ram[9][4000], 0x42);
    EXPECT_EQ(get16(s->user_mode_ram[9], slotOffset(OSD_FLAG)), 1);

    // Deleting removes the mode file and its OSD copy and marks the slot empty.
    EXPECT_EQ(s->mode_file_deal(9, 1), 0);
    EXPECT_FALSE(present("/data/modes/custom_mode10"));
    EXPECT_FALSE(present("/data/modes/MO0a.json"));
    EXPECT_EQ(s->ZemUserModeSaved(9), 0);
    EXPECT_EQ(get16(s->user_mode_ram[9], slotOffset(OSD_FLAG)), 0);
    EXPECT_EQ(s->ZemUserModeSaved(2), 1);
    EXPECT_TRUE(platform::shell::sim::log().empty());

    // Slot numbers outside 0..15 touch nothing.
    EXPECT_EQ(s->mode_file_write(16, 0), 0);
    EXPECT_EQ(s->mode_file_write(-1, 0), 0);
    EXPECT_EQ(s->mode_file_deal(16, 1), 0);
    EXPECT_EQ(s->mode_file_deal(-3, 0), 0);
    EXPECT_FALSE(present("/data/modes/custom_mode17"));
    EXPECT_FALSE(present("/data/modes/custom_mode0"));
}

TEST_F(Store, ShortModeFileLeavesTheRestOfTheSlot)
{
    writeFile(root.host("/data/modes/custom_mode1"), std::string(10, '\xAA'));
    ZemRamPara *s = load();
    EXPECT_EQ(s->ZemUserModeSaved(0), 1);
    EXPECT_EQ(s->user_mode_ram[0][9], 0xAA);
    EXPECT_EQ(s->user_mode_ram[0][10], 0);
}

TEST_F(Store, FailedModeWriteLeavesPreviousFile)
{
    ZemRamPara *s = load();
    uint8_t *slot = s->user_mode_ram[4];
    std::memset(slot + 2, 0x11, SLOT_DATA_SIZE);
    ASSERT_EQ(s->mode_file_write(4, 2), 1);
    std::string before = file("/data/modes/custom_mode5");

    std::memset(slot + 2, 0x22, SLOT_DATA_SIZE);
    platform::files::testing::failNextWriteAfter(2000);
    EXPECT_EQ(s->mode_file_write(4, 2), 0);
    EXPECT_EQ(file("/data/modes/custom_mode5"), before);

    // A slot never saved stays unmarked when its first write fails.
    platform::files::testing::failNextWriteAfter(10);
    EXPECT_EQ(s->mode_file_write(6, 2), 0);
    EXPECT_EQ(s->ZemUserModeSaved(6), 0);
    EXPECT_FALSE(present("/data/modes/custom_mode7"));
}

TEST_F(Store, CurrentModeIndex)
{
    ZemRamPara *s = load();
    s->setWord(CURRENT_USER_MODE, 16);
    EXPECT_EQ(s->ZemGetCurrentModeIndex(), 16);
    s->setWord(CURRENT_USER_MODE, 17);
    EXPECT_EQ(s->ZemGetCurrentModeIndex(), 0);
    // Only the low byte names the mode.
    s->setWord(CURRENT_USER_MODE, 0x0103);
    EXPECT_EQ(s->ZemGetCurrentModeIndex(), 3);
    s->setWord(CURRENT_USER_MODE, 0x0111);
    EXPECT_EQ(s->ZemGetCurrentModeIndex(), 0);
}

// ---------------------------------------------------------------------------
// Crops

TEST_F(Store, CropNumbersFollowTheUseMap)
{
    ZemRamPara *s = load();
    EXPECT_EQ(s->ZemAddCropID(3), 1);
    useCrop(s, 0, 3, 1);
    useCrop(s, 1, 3, 2);
    useCrop(s, 7, 3, 4);
    useCrop(s, 2, 1, 1);
    s->ZemCropSourceInit();
    EXPECT_EQ(s->ZemAddCropID(3), 3);
    EXPECT_EQ(s->ZemGetCropID(3, 3), 4);
    EXPECT_EQ(s->ZemGetCropID(3, 4), 0);
    EXPECT_EQ(s->ZemGetCropID(3, 0), 0);
    EXPECT_EQ(s->ZemGetSourceNum(3, 40), 3);
    EXPECT_EQ(s->ZemGetSourceNum(3, 2), 2);
    EXPECT_EQ(s->ZemGetSourceNum(3, 0), 0);
    EXPECT_EQ(s->ZemGetSourceNum(1, 100), 1);

    for (uint32_t e = 0; e < CROP_ENTRIES; ++e)
        useCrop(s, e, 5, static_cast<int>(e) + 1);
    s->ZemCropSourceInit();
    EXPECT_EQ(s->ZemAddCropID(5), 0);
    EXPECT_EQ(s->ZemGetCropID(5, 40), 40);
    EXPECT_EQ(s->ZemAddCropID(6), 0);
    EXPECT_EQ(s->ZemAddCropID(-1), 0);
}

TEST_F(Store, CropEntriesOutOfRangeAreSkipped)
{
    ZemRamPara *s = load();
    s->setWord(CROP_TABLE, CROP_USED | (39 << 8) | 6);        // source 6 has no run
    s->setWord(CROP_TABLE + 10, CROP_USED | (100 << 8) | 0);  // crop index 100
    s->setWord(CROP_TABLE + 20, CROP_USED | (0x7F << 8) | 0xFF);
    s->ZemCropSourceInit();
    for (uint8_t b : g_cut_source_state)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(s->ZemAddCropID(0), 1);
}

TEST_F(Store, CropReadWriteAddDelete)
{
    ZemRamPara *s = load();
    useCrop(s, 4, 2, 1, 11);
    useCrop(s, 9, 2, 3, 33);
    s->ZemCropSourceInit();

    CROP_PARA p = {-1, -1, -1, -1, -1};
    int entry = -1;
    s->ZemGetCropPara(2, 2, &p, &entry);
    EXPECT_EQ(entry, 9);
    EXPECT_EQ(p.id, CROP_USED | (2 << 8) | 2);
    EXPECT_EQ(p.x, 33);
    EXPECT_EQ(p.w, 1920);

    CROP_PARA untouched = {-1, -1, -1, -1, -1};
    s->ZemGetCropPara(2, 3, &untouched, &entry);
    EXPECT_EQ(entry, 40);
    EXPECT_EQ(untouched.x, -1);
    s->ZemGetCropPara(9, 1, &untouched, &entry);
    EXPECT_EQ(entry, 40);

    CROP_PARA in = {0, 0x10005, 6, 7, 8};
    s->ZemSetCropPara(2, 1, &in);
    EXPECT_EQ(s->word(CROP_TABLE + 40 + 2), 5);   // low 16 bits only
    EXPECT_EQ(s->word(CROP_TABLE + 40 + 8), 8);
    EXPECT_EQ(request(), 0);                     // no apply request

    // A new crop takes the lowest free number and the first unused entry.
    EXPECT_EQ(s->ZemAddNewCrop(2, &in), 0);
    EXPECT_EQ(s->word(CROP_TABLE), CROP_USED | (1 << 8) | 2);
    EXPECT_EQ(s->word(CROP_TABLE + 6), 7);
    EXPECT_EQ(request(), 1);
    EXPECT_EQ(s->ZemAddNewCrop(6, &in), -1);

    clearRequest();
    s->ZemCropSourceInit();
    s->ZemDeleteCrop(2, 2);   // crop number 2 lies in entry 0
    EXPECT_EQ(s->word(CROP_TABLE), 0);
    EXPECT_EQ(s->word(CROP_TABLE + 6), 7);
    EXPECT_EQ(request(), 1);

    // No free entry: nothing stored, the number it would have used returned.
    for (uint32_t e = 0; e < CROP_ENTRIES; ++e)
        useCrop(s, e, static_cast<int>(e % 4), static_cast<int>(e / 4) + 1);
    s->ZemCropSourceInit();
    EXPECT_EQ(s->ZemAddNewCrop(5, &in), 1);
}

TEST_F(Store, ImageSourceFromSlotAndCrop)
{
    ZemRamPara *s = load();
    int16_t isCrop = -1;
    char entry = 0;
    EXPECT_EQ(s->ZemGetImageSource(s->ram_para, 1, &isCrop, &entry, 0), 5);
    EXPECT_EQ(isCrop, 0);

    useCrop(s, 7, 4, 1);
    s->setWord(window(2, WIN_SOURCE), WIN_SOURCE_CROP | 7);
    EXPECT_EQ(s->ZemGetImageSource(s->ram_para, 2, &isCrop, &entry, 0), 4);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(entry, 7);

    uint8_t *slot = s->user_mode_ram[0];
    std::memcpy(slot + 2, s->ram_para + SLOT_IMAGE_START, SLOT_DATA_SIZE);
    EXPECT_EQ(s->ZemGetImageSource(slot + 2, 2, &isCrop, &entry, 1), 4);
    EXPECT_EQ(s->ZemGetImageSource(slot + 2, 0, &isCrop, &entry, 1), 2);

    // Damaged words name source 0.
    s->setWord(window(3, WIN_SOURCE), WIN_SOURCE_CROP | 200);
    EXPECT_EQ(s->ZemGetImageSource(s->ram_para, 3, &isCrop, &entry, 0), 0);
    s->setWord(window(3, WIN_SOURCE), 9);
    EXPECT_EQ(s->ZemGetImageSource(s->ram_para, 3, &isCrop, &entry, 0), 0);
    EXPECT_EQ(s->ZemGetImageSource(s->ram_para, 6, &isCrop, &entry, 0), 0);
    EXPECT_EQ(isCrop, 0);
}

TEST_F(Store, SourceIsOnOnlyForEnabledWindows)
{
    ZemRamPara *s = load();
    EXPECT_EQ(s->ZemSourceId_is_on(2), 1);   // window 0
    EXPECT_EQ(s->ZemSourceId_is_on(5), 0);   // window 1 disabled
    s->setWord(window(1, WIN_ENABLE), 1);
    EXPECT_EQ(s->ZemSourceId_is_on(5), 1);
    useCrop(s, 3, 4, 1);
    s->setWord(window(0, WIN_SOURCE), WIN_SOURCE_CROP | 3);
    EXPECT_EQ(s->ZemSourceId_is_on(4), 1);
    EXPECT_EQ(s->ZemSourceId_is_on(2), 0);
    s->setWord(window(1, WIN_SOURCE), 0x0042);   // unknown source compares as 0
    EXPECT_EQ(s->ZemSourceId_is_on(0), 1);
}

// ---------------------------------------------------------------------------
// Window helpers

TEST_F(Store, SetImageSourceRaisesRequestAndClearsUnchangedMode)
{
    ZemRamPara *s = load();
    s->ZemSetImageSource(0, 3, 1);
    EXPECT_EQ(s->word(window(1, WIN_SOURCE)), 3);
    EXPECT_EQ(request(), 1);

    useCrop(s, 12, 3, 1);
    s->ZemCropSourceInit();
    s->ZemSetImageSource(1, 3, 0);
    EXPECT_EQ(s->word(window(0, WIN_SOURCE)), WIN_SOURCE_CROP | 12);

    // A mode recalled and not yet applied (866 differs from the snapshot) stays.
    s->setWord(CURRENT_USER_MODE, 4);
    s->ZemSetImageSource(0, 1, 0);
    EXPECT_EQ(s->word(CURRENT_USER_MODE), 4);
    std::memcpy(s->ram_para_back, s->ram_para, IMAGE_SIZE);
    s->ZemSetImageSource(0, 2, 0);
    EXPECT_EQ(s->word(CURRENT_USER_MODE), 0);

    // Refused: missing crop, unknown source or window; nothing changes.
    clearRequest();
    std::vector<uint8_t> before(s->ram_para, s->ram_para + IMAGE_SIZE);
    s->ZemSetImageSource(2, 3, 0);
    s->ZemSetImageSource(0, 6, 0);
    s->ZemSetImageSource(0, 1, 6);
    EXPECT_EQ(0, std::memcmp(before.data(), s->ram_para, IMAGE_SIZE));
    EXPECT_EQ(request(), 0);
}

TEST_F(Store, FreezeOnlyEnabledWindowsBlackAny)
{
    ZemRamPara *s = load();
    g_image_current = 1;   // disabled
    s->ZemSetImageFreeze();
    EXPECT_EQ(s->word(window(1, WIN_FLAGS)), 0);
    EXPECT_EQ(request(), 1);
    s->ZemSetImageBlack();
    EXPECT_EQ(s->word(window(1, WIN_FLAGS)), WIN_FLAG_BLACK);

    g_image_current = 0;
    s->ZemSetImageFreeze();
    EXPECT_EQ(s->word(window(0, WIN_FLAGS)), WIN_FLAG_FREEZE);
    s->ZemSetImageFreeze();
    EXPECT_EQ(s->word(window(0, WIN_FLAGS)), 0);

    // A window number beyond the six writes nothing.
    g_image_current = 6;
    std::vector<uint8_t> before(s->ram_para, s->ram_para + IMAGE_SIZE);
    s->ZemSetImageBlack();
    s->ZemSetImageFreeze();
    EXPECT_EQ(0, std::memcmp(before.data(), s->ram_para, IMAGE_SIZE));
}

TEST_F(Store, ImageWritersTakeTheirLocksBeforeTheyWrite)
{
    // The links write the image under the image's lock (the input-timing
    // records under input_timing_mutex): a writer that read or wrote before
    // taking the lock could lose their change or hand out half a value.
    ZemRamPara *s = load();
    s->setWord(window(0, WIN_ENABLE), 1);
    const uint8_t two[2] = {0x12, 0x34};
    struct Case {
        const char *name;
        uint32_t off;                                 // the word the call changes
        std::function<void()> call;
        pthread_mutex_t *lock;
    };
    pthread_mutex_t *imageLock = &para_lock::mutex();
    const Case cases[] = {
        {"RAM write", 100, [&] { s->ZemRamParaDeal(two, 2, 100); }, imageLock},
        {"RAM write of an input timing", INPUT_TIMING, [&] { s->ZemRamParaDeal(two, 2, INPUT_TIMING); },
         &s->input_timing_mutex},
        {"freeze", window(0, WIN_FLAGS), [&] { s->ZemSetImageFreeze(); }, imageLock},
        {"black", window(0, WIN_FLAGS), [&] { s->ZemSetImageBlack(); }, imageLock},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t before = s->word(c.off);
        pthread_mutex_lock(c.lock);
        zemtest::BlockedCall call(c.call);
        EXPECT_TRUE(call.waits());
        EXPECT_EQ(s->word(c.off), before);
        pthread_mutex_unlock(c.lock);
        ASSERT_TRUE(call.finishes());
        EXPECT_NE(s->word(c.off), before);
    }
}

TEST_F(Store, CropWritersFindTheCropUnderTheLock)
{
    // The PC tool may move a crop to another entry while the panel deletes
    // it or shows it in a window: the entry is looked up under the lock.
    ZemRamPara *s = load();
    const struct {
        const char *name;
        std::function<void()> call;
        uint32_t off;     // the word the call writes
        uint16_t want;
    } cases[] = {
        {"delete", [s] { s->ZemDeleteCrop(2, 1); }, CROP_TABLE + CROP_ENTRY_SIZE, 0},
        {"window source", [s] { s->ZemSetImageSource(1, 2, 0); }, window(0, WIN_SOURCE), WIN_SOURCE_CROP + 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        useCrop(s, 0, 2, 1);
        s->setWord(CROP_TABLE + CROP_ENTRY_SIZE, 0);
        s->ZemCropSourceInit();
        pthread_mutex_lock(&para_lock::mutex());
        zemtest::BlockedCall call(c.call);
        EXPECT_TRUE(call.waits());
        useCrop(s, 0, 3, 1);   // entry 0 now holds a crop of source 3,
        useCrop(s, 1, 2, 1);   // source 2's crop 1 lies in entry 1
        pthread_mutex_unlock(&para_lock::mutex());
        ASSERT_TRUE(call.finishes());
        EXPECT_EQ(s->word(c.off), c.want);
        EXPECT_EQ(s->word(CROP_TABLE), CROP_USED | 3);
    }
}

TEST_F(Store, EdidPortsInRangeOnly)
{
    ZemRamPara *s = load();
    s->ZemSetEDIDPara(5, 1280, 720, 50);
    EXPECT_EQ(s->word(EDID_BASE + 30), 1280);
    EXPECT_EQ(s->word(EDID_BASE + 32), 720);
    EXPECT_EQ(s->word(EDID_BASE + 34), 50);
    EXPECT_EQ(request(), 1);

    clearRequest();
    std::vector<uint8_t> before(s->ram_para, s->ram_para + IMAGE_SIZE);
    s->ZemSetEDIDPara(6, 1, 2, 3);
    s->ZemSetEDIDPara(-1, 1, 2, 3);
    EXPECT_EQ(0, std::memcmp(before.data(), s->ram_para, IMAGE_SIZE));
    EXPECT_EQ(request(), 0);
}

// A save request puts the image of its moment into its slot at once and
// makes its mode current; a mode waits for its file once, at the place of
// its last request, and a number naming no slot is only cleared.
TEST_F(Store, SaveRequestsFillTheirSlotAtOnceAndWaitOncePerMode)
{
    ZemRamPara *s = ZemRamPara::pInstance();
    int hooked = 0;
    s->set_save_hook([&hooked] { ++hooked; });
    {
        ImageLock lock(s);
        for (const auto &r : {std::make_pair(2, 20), std::make_pair(17, 30), std::make_pair(10, 60),
                              std::make_pair(2, 80)}) {
            s->setWord(USER_MODE_SAVE, uint16_t(r.first));
            s->setWord(CONTRAST, uint16_t(r.second));
            s->take_save_request_locked();
            EXPECT_EQ(s->word(USER_MODE_SAVE), 0);
            EXPECT_EQ(get16(s->ram_para_back, USER_MODE_SAVE), 0);
        }
        s->take_save_request_locked();
    }
    s->set_save_hook(nullptr);
    EXPECT_EQ(hooked, 3);
    const std::vector<ZemRamPara::PendingSave> saves = s->pending_saves();
    ASSERT_EQ(saves.size(), 2u);
    EXPECT_EQ(saves[0].mode, 10);
    EXPECT_EQ(saves[1].mode, 2);
    EXPECT_EQ(s->user_mode_ram[9][slotOffset(CONTRAST)], 60);
    EXPECT_EQ(s->user_mode_ram[1][slotOffset(CONTRAST)], 80);
    EXPECT_EQ(s->ZemUserModeSaved(1), 1);
    EXPECT_EQ(s->word(CURRENT_USER_MODE), 2);
    EXPECT_EQ(get16(s->ram_para_back, CURRENT_USER_MODE), 2);
    ImageLock lock(s);
    for (const ZemRamPara::PendingSave &save : saves)
        s->drop_save_locked(save.mode);
}

// A word settled again after the chip's pass took its copy keeps its new
// value when that pass hands over what it applied.
TEST_F(Store, WordSettledAgainDuringAPassKeepsItsLastValue)
{
    ZemRamPara *s = ZemRamPara::pInstance();
    ImageLock lock(s);
    s->settle_word(CONTRAST, 20);
    s->pass_copied();
    uint8_t applied[IMAGE_SIZE];
    std::memcpy(applied, s->ram_para, IMAGE_SIZE);
    s->settle_word(CONTRAST, 60);
    s->pass_applied(applied);
    EXPECT_EQ(get16(s->ram_para_back, CONTRAST), 60);
}

TEST_F(Store, PendingModeRequestIsNotLowered)
{
    ZemRamPara *s = load();
    c331_manage::instance()->para_changed = 2;
    s->ZemSetEDIDPara(0, 1, 2, 3);
    EXPECT_EQ(request(), 2);
}

TEST_F(Store, LanguageChangeFallsBackToEnabledLanguage)
{
    ZemRamPara *s = load();
    EXPECT_EQ(s->ZemLanguageChanged(), 0);

    s->ram_para[LANGUAGE] = 1;
    EXPECT_EQ(s->ZemLanguageChanged(), 1);
    EXPECT_EQ(g_language, 1);
    // Reported once, with or without an apply pass: the pages show it now.
    EXPECT_EQ(s->ZemLanguageChanged(), 0);

    g_lcd_lang_valid = (1u << 3) | (1u << 4);
    s->ram_para[LANGUAGE] = 2;
    s->ram_para[LANGUAGE_FALLBACK] = 9;
    EXPECT_EQ(s->ZemLanguageChanged(), 1);
    EXPECT_EQ(s->ram_para[LANGUAGE], 3);
    EXPECT_EQ(s->ram_para[LANGUAGE_FALLBACK], 0);
    EXPECT_EQ(g_language, 3);

    // No language enabled: nothing written.
    g_lcd_lang_valid = 0;
    s->ram_para[LANGUAGE] = 2;
    s->ram_para[LANGUAGE_FALLBACK] = 9;
    EXPECT_EQ(s->ZemLanguageChanged(), 1);
    EXPECT_EQ(s->ram_para[LANGUAGE], 2);
    EXPECT_EQ(s->ram_para[LANGUAGE_FALLBACK], 9);

    // Byte 769 alone changes the word as well.
    std::memcpy(s->ram_para_back, s->ram_para, IMAGE_SIZE);
    s->ram_para[LANGUAGE_FALLBACK] = 1;
    EXPECT_EQ(s->ZemLanguageChanged(), 1);
}

// ---------------------------------------------------------------------------
// Notification

TEST_F(Store, NestedEmissionFromDirectSlotDoesNotDeadlock)
{
    std::unique_ptr<QCoreApplication> app;
    int argc = 1;
    char name[] = "test_app";
    char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app.reset(new QCoreApplication(argc, argv));

    ZemRamPara *s = load();
    std::vector<int> codes;
    QObject::connect(s, &ZemRamPara::sig_update_para, s, [&](int code) {
        codes.push_back(code);
        if (code != 1)
            return;
        // A slot that waits in a nested event loop, inside which the GUI
        // thread emits again.
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            s->test_signal(2);
            loop.quit();
        });
        loop.exec();
    }, Qt::DirectConnection);

    EXPECT_EQ(s->ram_para_save(), 1);
    EXPECT_EQ(codes, (std::vector<int>{1, 2}));
}

} // namespace
