// OSD fonts: presence from the four headers, their copy into chip memory and
// the glyph print-out. The fonts are synthetic: a header and a few glyphs.

#include "setter_fixture.h"

#include "support/blocked_call.h"
#include "support/pctool.h"

using namespace chiptest;
using pctool::Bytes;
using pctool::pattern;
using Op = platform::sim::SimC331Flash::Op;

namespace {

// Header addresses: 32-dot ASCII, 32-dot CJK, 64-dot ASCII, 64-dot CJK.
constexpr uint32_t HEADER[4] = {0x000000, 0x010000, 0x410000, 0x450000};
constexpr uint32_t BASE = 0x7F000000;

class FontTest : public SetterTest
{
protected:
    void SetUp() override
    {
        SetterTest::SetUp();
        m->load_font_map();
    }
    void TearDown() override
    {
        g_debugSwitch = 0;
        SetterTest::TearDown();
    }

    // A header with type byte `type`, glyph size `dots`, then `glyphs` bytes.
    void putFont(int slot, uint8_t type, const Bytes &glyphs = {})
    {
        const uint8_t dots = slot < 2 ? 32 : 64;
        Bytes f(35, 0);
        f[0] = type;
        f[17] = f[18] = dots;
        f.insert(f.end(), glyphs.begin(), glyphs.end());
        chip->flash().preset(HEADER[slot], f);
    }
};

TEST_F(FontTest, ValidHeadersGivePresenceBitsAndTheStatusByte)
{
    struct Case {
        const char *fonts;   // per slot: 'P' valid, another letter an invalid type
        int bits;
        uint8_t status;
    };
    const Case cases[] = {
        {"PPQQ", 0b0011, 0x03},
        {"PPPP", 0b1111, 0xFF},
        {"PPPQ", 0b1011, 0x57},   // 64-dot CJK: bits 3, 5, 7 cleared
        {"QPQQ", 0b0001, 0x02},
        {"QQQQ", 0, 0x00},
    };
    store->status_ram[6] = 0x5C;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fonts);
        for (int slot = 0; slot < 4; ++slot)
            putFont(slot, uint8_t(c.fonts[slot]));
        m->read_c331_font(m->c331_fd);
        EXPECT_EQ(m->font_present_bits.load(), c.bits);
        EXPECT_EQ(store->status_ram[6], c.status);
    }
}

// The PC tool reads the status page under the image's lock on another
// link: the font check writes its byte under the same lock.
TEST_F(FontTest, StatusByteIsWrittenUnderTheImagesLock)
{
    for (int slot = 0; slot < 4; ++slot)
        putFont(slot, 'P');
    store->status_ram[6] = 0;
    auto lock = std::make_unique<ParaLock>();
    zemtest::BlockedCall check([&] { m->read_c331_font(m->c331_fd); });
    EXPECT_TRUE(check.waits());
    EXPECT_EQ(store->status_ram[6], 0x00);
    lock.reset();
    EXPECT_TRUE(check.finishes());
    EXPECT_EQ(store->status_ram[6], 0xFF);
}

TEST_F(FontTest, FontsAreCopiedBackToBackFromTheFontAddress)
{
    std::vector<Bytes> glyphs;
    for (int slot = 0; slot < 4; ++slot) {
        glyphs.push_back(pattern(1024, uint8_t(slot + 1)));
        putFont(slot, 'P', glyphs.back());
    }
    chip->flash().clearOps();
    m->update_font(m->c331_fd);

    const uint32_t at[4] = {BASE, BASE + 0x3000, BASE + 0x293000, BASE + 0x29F000};
    const uint32_t size[4] = {0x3000, 0x290000, 0xC000, 0xA40000};
    std::vector<Op> dma;
    for (const Op &op : chip->flash().ops())
        if (op.kind == Op::Dma)
            dma.push_back(op);
    ASSERT_EQ(dma.size(), 4u);
    for (int slot = 0; slot < 4; ++slot) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(dma[slot].address, HEADER[slot] + 35);
        EXPECT_EQ(dma[slot].length, size[slot]);
        EXPECT_EQ(dma[slot].destination, at[slot]);
        EXPECT_EQ(chip->memory().read(at[slot], 1024), glyphs[slot]);
    }
    EXPECT_EQ(m->g_font_addr_32ASCII, at[0]);
    EXPECT_EQ(m->g_font_addr_32CHN, at[1]);
    EXPECT_EQ(m->g_font_addr_64ASCII, at[2]);
    EXPECT_EQ(m->g_font_addr_64CHN, at[3]);
    // CJK glyph n of the 32-dot pair is glyph 96 + n from the ASCII font's base.
    EXPECT_EQ(chip->memory().read(BASE + 97 * 128, 128), Bytes(glyphs[1].begin() + 128, glyphs[1].begin() + 256));
}

TEST_F(FontTest, GlyphPrintOutShowsSetPixelsLeastSignificantBitFirst)
{
    Bytes glyphs(96 * 128, 0);
    glyphs[33 * 128 + 0] = 0x01;   // 'A', row 0: pixel 0
    glyphs[33 * 128 + 1] = 0x80;   // and pixel 15
    glyphs[33 * 128 + 127] = 0x80; // row 31: pixel 31
    putFont(0, 'P', glyphs);
    g_debugSwitch = 254;
    testing::internal::CaptureStdout();
    m->zemApi_debug_printf_unicode('A', m->c331_fd);
    m->zemApi_debug_printf_unicode(0x100, m->c331_fd);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string blank(32, ' ');
    std::string expected = "O" + std::string(14, ' ') + "O" + std::string(16, ' ') + "\n";
    for (int row = 1; row < 31; ++row)
        expected += blank + "\n";
    expected += std::string(31, ' ') + "O\n";
    expected += "\t unicode:100 OOR, rang:4e00 - 9fff, return;\n";   // each diagnostic ends its line
    EXPECT_EQ(out, expected);
}

} // namespace
