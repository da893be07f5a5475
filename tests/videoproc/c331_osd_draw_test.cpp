// OSD drawing on the simulated chip: the memory engine's fills, copies and
// character draws (with their character lists), the palette, the bitmap
// from flash, and what happens when the engine does not finish.

#include "osd_fixture.h"

using namespace chiptest;

namespace {

using Char = Engine::Char;

class OsdDrawTest : public OsdTest
{
protected:
    // Loads the lines as the text buffer.
    void text(std::initializer_list<std::u32string> lines)
    {
        static uint32_t codes[c331_manage::OSD_LINES][c331_manage::OSD_LINE_CHARS];
        int lengths[c331_manage::OSD_LINES] = {};
        int i = 0;
        for (const std::u32string &l : lines) {
            std::copy(l.begin(), l.end(), codes[i]);
            lengths[i++] = int(l.size());
        }
        m->zemApi_OsdSetUnicode(i, lengths, codes);
    }
    // Glyphs of a draw.
    static std::vector<int> glyphs(const Engine::Op &op)
    {
        std::vector<int> g;
        for (const Char &c : op.chars)
            g.push_back(c.glyph);
        return g;
    }
    uint32_t osd(uint32_t offset) const { return m->PS_MEM_OSD + offset; }
};

TEST_F(OsdDrawTest, CharacterListsGiveGlyphWidthAndHeightOfTheFont)
{
    struct Case {
        char32_t unit;
        int dot64, dbl;
        Char expected;
        uint8_t height, mode;
    };
    const Case cases[] = {
        {U'A', 0, 0, {33, 2, 1, 15}, 31, 0x08},
        {U'\u4E00', 0, 0, {96, 2, 1, 31}, 31, 0x08},
        {U'A', 1, 0, {33, 2, 1, 31}, 63, 0x48},
        {U'\u4E00', 1, 0, {96, 2, 1, 63}, 63, 0x48},
        {U'A', 1, 1, {33, 2, 1, 0x80 | 31}, 0x80 | 63, 0x48},
        // The ASCII fonts end with U+007F; units without a glyph draw a blank
        // of their width.
        {U'\x7F', 0, 0, {95, 2, 1, 15}, 31, 0x08},
        {U'\t', 0, 0, {0, 2, 1, 15}, 31, 0x08},
        {U'\u00E9', 0, 0, {0, 2, 1, 15}, 31, 0x08},
        {U'\u3042', 0, 0, {0, 2, 1, 31}, 31, 0x08},
        {U'\uA000', 0, 0, {0, 2, 1, 31}, 31, 0x08},
        {U'\U0001F600', 0, 0, {0, 2, 1, 31}, 31, 0x08},
    };
    m->g_osd_mwi = 32;
    for (const Case &c : cases) {
        SCOPED_TRACE(uint32_t(c.unit));
        m->PM_OSD_CHAR_DOUBLE = c.dbl;
        text({std::u32string(1, c.unit)});
        const int size = c.dot64 ? 64 : 32;
        const uint64_t mark = chip->mark();
        ASSERT_TRUE(m->osd_put_unicode_string(m->c331_fd, m->g_unicode_str[0], 10, 20, 2, 1, size, size,
                                              m->PS_MEM_OSD, c.dot64));
        std::vector<int> setup;   // the draw's set-up registers in the order written
        for (const SimC331::Frame &f : chip->framesSince(mark))
            if (f.write && !f.select && f.bank == 4 && f.sub >= 0x23 && f.sub <= 0x26)
                setup.push_back(f.sub);
        EXPECT_EQ(setup, (std::vector<int>{0x23, 0x24, 0x25, 0x26}));
        const Engine::Op op = chip->engine().draws().back();
        EXPECT_EQ(op.chars, std::vector<Char>{c.expected});
        EXPECT_EQ(op.charHeight, c.height);
        EXPECT_EQ(op.mode, c.mode);
        EXPECT_EQ(op.source, c.dot64 ? m->g_font_addr_64ASCII.load() : FONTS);
        EXPECT_EQ(op.destination, osd(10 + 4096 * 20));
    }
    // A line that starts with a unit of 0 draws nothing.
    const uint8_t empty[256] = {};
    const size_t before = chip->engine().draws().size();
    EXPECT_TRUE(m->osd_put_unicode_string(m->c331_fd, empty, 0, 0, 2, 1, 32, 32, m->PS_MEM_OSD, 0));
    EXPECT_EQ(chip->engine().draws().size(), before);
}

TEST_F(OsdDrawTest, LinePitchFollowsTheAreaWidth)
{
    const int cases[][3] = {{1920, 32, 0}, {4200, 17, 1}, {7680, 30, 1}};
    m->PM_OSD_DATA_MODE = 1;
    m->PS_BG_VACT = 4;
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        m->PS_BG_HACT = c[0];
        chip->engine().clearOps();
        m->update_osd(m->c331_fd);
        EXPECT_EQ(m->g_osd_mwi, c[1]);
        EXPECT_EQ(m->g_osd_mwi_shift, c[2]);
        EXPECT_EQ(opsOf(Engine::Op::Fill).at(0).destinationPitch, uint32_t(c[1] * (c[2] ? 512 : 128)));
        EXPECT_EQ(chip->value(0x091E01), uint32_t(c[1]));
    }
}

TEST_F(OsdDrawTest, RebuildDrawsTheLinesAndTilesTheVisiblePartForScrolling)
{
    m->set_OSD_para(menu("AB\nCD"));
    m->update_osd(m->c331_fd);
    const uint32_t pitch = 60 * 128;   // 3840 wide
    const auto fills = opsOf(Engine::Op::Fill);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].width * fills[0].height, 3840u * 1080);
    EXPECT_EQ(fills[0].value, 1);
    const auto draws = chip->engine().draws();
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(glyphs(draws[0]), (std::vector<int>{33, 34}));
    EXPECT_EQ(glyphs(draws[1]), (std::vector<int>{35, 36}));
    EXPECT_EQ(draws[1].destination, osd(32 * pitch));
    std::vector<uint32_t> tiles;
    for (const Engine::Op &op : opsOf(Engine::Op::Copy)) {
        EXPECT_EQ(op.source, osd(0));
        tiles.push_back(op.destination - m->PS_MEM_OSD1);
    }
    EXPECT_EQ(tiles, (std::vector<uint32_t>{0, 3840, pitch * 1080, pitch * 1080 + 3840}));
    EXPECT_EQ(chip->memory().read(m->PS_MEM_OSD1 + pitch * 1080 + 7679, 1), std::vector<uint8_t>{1});
    // Palette entries 1 and 2: background 000080 and white, red first.
    const auto palette = chip->memory().palette();
    EXPECT_EQ(std::vector<uint8_t>(palette.begin() + 3, palette.begin() + 9),
              (std::vector<uint8_t>{0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF}));
    // Shown from the second area on both channels, characters on.
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(onChannel(0x090202, ch), 0x4003u) << ch;
        EXPECT_EQ(onChannel(0x091A04, ch), m->PS_MEM_OSD1 + 1920u * ch) << ch;
    }
}

// An area larger than the room in front of the second area (here 256 KiB
// for 1920 x 100 at 4096 bytes a line) is not overwritten by the tiles: the
// second area follows it, and the windows read it from there.
TEST_F(OsdDrawTest, SecondAreaFollowsAnAreaTooLargeForItsRoom)
{
    wall(1, 1);
    m->PS_MEM_OSD1 = m->PS_MEM_OSD + 0x40000;
    m->PS_FONT_ADDR = m->PS_MEM_OSD + 0x400000;
    m->PM_OSD_DATA_MODE = 1;
    m->PS_BG_HACT = 1920;
    m->PS_BG_VACT = 100;
    m->update_osd(m->c331_fd);
    std::vector<uint32_t> tiles;
    for (const Engine::Op &op : opsOf(Engine::Op::Copy))
        tiles.push_back(op.destination - m->PS_MEM_OSD);
    const uint32_t area = 4096 * 100;
    EXPECT_EQ(tiles, (std::vector<uint32_t>{area, area + 1920, 2 * area, 2 * area + 1920}));
    EXPECT_EQ(onChannel(0x091A04, 0), m->PS_MEM_OSD + area);
}

TEST_F(OsdDrawTest, TransparentBackgroundFillsAndDrawsWithIndex255)
{
    OMENU_PARA e = menu("A");
    e.back_enable = "off";
    m->set_OSD_para(e);
    m->update_osd(m->c331_fd);
    EXPECT_EQ(opsOf(Engine::Op::Fill).at(0).value, 255);
    EXPECT_EQ(chip->engine().draws().at(0).chars.at(0).bg, 255);
}

// Characters are drawn where they lie inside their row of OSD memory (512
// bytes for an area 100 wide), lines where their top lies inside the area:
// what sticks out of the area lies beside or below it, where no window reads.
TEST_F(OsdDrawTest, LinesAndCharactersAreClippedAtTheRowPitch)
{
    m->PM_OSD_DATA_MODE = 1;
    m->PS_BG_HACT = 100;
    m->PS_BG_VACT = 40;
    struct Case {
        int hst;
        std::vector<std::vector<int>> glyphs;
        std::vector<uint32_t> at;
    };
    const Case cases[] = {
        // A and B would begin in front of the row; K and L too; N to P begin below the area.
        {-20, {{35, 36, 37, 38, 39, 40, 41, 42}, {45}}, {12, 12 + 32 * 512}},
        // The row ends at 512: of 10 characters from 400 the first 7 fit.
        {400, {{33, 34, 35, 36, 37, 38, 39}, {43, 44, 45}}, {400, 400 + 32 * 512}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hst);
        m->PS_CHAR_HST = c.hst;
        text({U"ABCDEFGHIJ", U"KLM", U"NOP"});
        chip->engine().clearOps();
        m->update_osd(m->c331_fd);
        std::vector<std::vector<int>> drawn;
        std::vector<uint32_t> at;
        for (const Engine::Op &op : chip->engine().draws()) {
            drawn.push_back(glyphs(op));
            at.push_back(op.destination - m->PS_MEM_OSD);
        }
        EXPECT_EQ(drawn, c.glyphs);
        EXPECT_EQ(at, c.at);
    }

    // An area 0 wide draws nothing at all.
    chip->engine().clearOps();
    m->PS_BG_HACT = 0;
    m->update_osd(m->c331_fd);
    EXPECT_TRUE(chip->engine().ops().empty());
}

TEST_F(OsdDrawTest, JustifiedLinesDrawEachCharacterWithTheSpacing)
{
    m->PM_OSD_DATA_MODE = 1;
    m->PS_BG_HACT = 1920;
    m->PS_BG_VACT = 1080;
    text({U"END"});
    m->g_osd_h_alignment_tarix = 3;
    struct Case {
        int hst, spacing, remainder;
        std::vector<uint32_t> at;
    };
    const Case cases[] = {
        // One pixel more after the first character, while 2 x 1 <= 3.
        {0, 10, 3, {0, 27, 53}},
        // Spread over 1920 from x 10: the D sticks out of the area by 10.
        {10, 936, 0, {10, 962, 1914}},
    };
    for (const Case &c : cases) {
        m->PS_CHAR_HST = c.hst;
        m->g_osd_hmargin_tarix[0] = c.spacing;
        m->g_osd_hmargin_rem_tarix[0] = c.remainder;
        chip->engine().clearOps();
        m->update_osd(m->c331_fd);
        std::vector<uint32_t> at;
        for (const Engine::Op &op : chip->engine().draws())
            at.push_back(op.destination - m->PS_MEM_OSD);
        EXPECT_EQ(at, c.at) << c.hst;
    }
}

// The engine never finishes: the rebuild gives up after one bounded wait
// and the windows are still programmed.
TEST_F(OsdDrawTest, StuckEngineEndsTheRebuildAfterOneBoundedWait)
{
    m->set_OSD_para(menu("AB"));
    chip->engine().setStuck(true);
    const uint64_t mark = chip->mark();
    m->update_osd(m->c331_fd);
    unsigned reads = 0;
    for (const SimC331::Frame &f : chip->framesSince(mark))
        reads += !f.write && f.bank == 4 && f.sub == 0x17;
    EXPECT_EQ(reads, 10000u);
    EXPECT_EQ(chip->engine().ops().size(), 1u);
    EXPECT_EQ(onChannel(0x090202, 1), 0x4003u);
    EXPECT_EQ(chip->reg(4, 0x08), 0);
}

TEST_F(OsdDrawTest, BitmapComesFromFlashWithItsPalette)
{
    std::vector<uint8_t> row(1920), palette(816);
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = uint8_t(i * 7);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = uint8_t(i + 3);
    chip->flash().preset(0xED9800 + 1920 * 1079, row);
    chip->flash().preset(0x10D3C00, palette);
    m->PM_OSD_DATA_MODE = 0;
    m->update_osd(m->c331_fd);
    EXPECT_EQ(chip->memory().read(m->PS_MEM_OSD + 4096 * 1079, 1920), row);
    EXPECT_EQ(opsOf(Engine::Op::Copy).at(0).sourcePitch, 1920u);
    EXPECT_EQ(chip->memory().palette(), palette);
    EXPECT_EQ(chip->reg(0xFF, 0x01), 0);
    EXPECT_EQ(onChannel(0x090202, 0) & 3, 0u);   // the OSD is not switched on by a rebuild
}

} // namespace
