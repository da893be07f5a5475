// OSD items, text loading and the programming of a menu: what the model holds
// afterwards. Nothing here reaches the chip.

#include "osd_fixture.h"

using namespace chiptest;

namespace {

using OsdItemTest = OsdTest;

TEST_F(OsdItemTest, ItemsStoreTheirValueAndRaiseTheirRequest)
{
    struct Case {
        int item, value;
        int32_t c331_manage::*field;
        int32_t expected;
        bool refresh, rebuild;
    };
    const Case cases[] = {
        {13, 300, &c331_manage::PM_OSD_SCROLL_SPEED, 44, true, false},
        {13, -300, &c331_manage::PM_OSD_SCROLL_SPEED, -44, true, false},
        {4, 10, &c331_manage::PM_OSD_SCROLL_MODE, 1, true, false},
        {0, 7, &c331_manage::PM_OSD_EN, 1, true, false},
        {3, 0, &c331_manage::PM_OSD_DATA_MODE, 0, false, true},
        {14, 5, &c331_manage::PM_OSD_CHAR_64DOT, 1, false, true},
        {18, 2, &c331_manage::PS_BG_TRANS, 1, false, false},
        {33, 1, &c331_manage::g_osd_layer, 1, false, false},
        {48, 1, &c331_manage::PM_OSD_CHAR_DOUBLE, 1, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.item);
        m->osd_refresh_request = m->osd_rebuild_request = 0;
        EXPECT_EQ(m->zemApi_OsdSet(c.item, c.value), 1);
        EXPECT_EQ(m.get()->*c.field, c.expected);
        EXPECT_EQ(m->osd_refresh_request, c.refresh);
        EXPECT_EQ(m->osd_rebuild_request, c.rebuild);
    }
    for (int item : {-1, 23, 31, 36, 47, 49})
        EXPECT_EQ(m->zemApi_OsdSet(item, 1), 0) << item;
    // Item 32 sets both requests from bits 7 and 6: 0x80 clears a pending rebuild.
    m->zemApi_OsdSet(32, 0x80);
    EXPECT_EQ(m->osd_refresh_request, 1);
    EXPECT_EQ(m->osd_rebuild_request, 0);
}

TEST_F(OsdItemTest, MarginsComeFromTheWindowAndTheVisibleSourceIsTheWindowSize)
{
    setWord(para::LED_X, 100);
    m->PM_OSD_DATA_MODE = 1;
    m->PS_BG_HACT = 1920;
    m->PS_BG_VACT = 1080;
    m->PM_OSD_CHAR_64DOT = 1;
    const int items[][2] = {{5, 20}, {6, 1000}, {7, 200}, {8, 300}, {9, 55}, {10, 500}, {11, 55}, {12, 300}};
    for (const auto &i : items)
        m->zemApi_OsdSet(i[0], i[1]);
    EXPECT_EQ(std::vector<int32_t>(m->PM_OSD_OUTPUT_OFFSET, m->PM_OSD_OUTPUT_OFFSET + 4),
              (std::vector<int32_t>{120, 3840 - 1000 - 120, 200, 1080 - 300 - 200}));
    // Items 10 and 12 leave a source of 500 x 300 from the memory's origin.
    EXPECT_EQ(std::vector<int32_t>(m->PM_OSD_INPUT_OFFSET, m->PM_OSD_INPUT_OFFSET + 4),
              (std::vector<int32_t>{0, 1920 - 500, 0, 1080 - 300}));

    // The 32-dot font leaves the right margin as it is.
    m->PM_OSD_CHAR_64DOT = 0;
    m->zemApi_OsdSet(10, 900);
    EXPECT_EQ(m->PM_OSD_INPUT_OFFSET[1], 1920 - 500);

    // A 64-dot text wider than the area widens it instead: 40 full-width
    // characters of 64 dots.
    m->PM_OSD_CHAR_64DOT = 1;
    m->g_unicode_line = 1;
    m->g_osd_full_cnt_tarix[0] = 40;
    m->g_osd_half_cnt_tarix[0] = 0;
    m->zemApi_OsdSet(10, 500);
    EXPECT_EQ(m->PS_BG_HACT, 2560);
    EXPECT_EQ(m->PM_OSD_INPUT_OFFSET[1], 0);
}

TEST_F(OsdItemTest, AlignmentPlacesLinesInsideTheOutputWindow)
{
    // Three lines of the 32-dot font on a window of 1920 x 1080: "AB",
    // one CJK character, and a line wider than the window.
    wall(1, 1);
    m->g_unicode_line = 3;
    const int full[3] = {0, 1, 70}, half[3] = {2, 0, 0};
    for (int i = 0; i < 3; ++i) {
        m->g_osd_full_cnt_tarix[i] = full[i];
        m->g_osd_half_cnt_tarix[i] = half[i];
        m->g_osd_char_cnt_tarix[i] = full[i] + half[i];
    }
    struct Case {
        int mode;
        int start[3], spacing[3];
    };
    const Case cases[] = {
        {1, {944, 944, 0}, {0, 0, 0}},
        {2, {1888, 1888, 0}, {0, 0, 0}},
        {3, {0, 0, 0}, {1888, 1888, 0}},   // a single character takes all the free space after it
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        m->zemApi_OsdSet(34, c.mode);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(m->g_osd_max_line_x_tarix[i], c.start[i]) << i;
            EXPECT_EQ(m->g_osd_hmargin_tarix[i], c.spacing[i]) << i;
        }
    }
    // Justify with a remainder: 3 half-width characters in 1921 pixels.
    m->PM_OSD_OUTPUT_OFFSET[1] = -1;
    m->g_unicode_line = 1;
    m->g_osd_full_cnt_tarix[0] = 0;
    m->g_osd_half_cnt_tarix[0] = m->g_osd_char_cnt_tarix[0] = 3;
    m->zemApi_OsdSet(34, 3);
    EXPECT_EQ(m->g_osd_hmargin_tarix[0], (1921 - 48) / 2);
    EXPECT_EQ(m->g_osd_hmargin_rem_tarix[0], 1);

    // Vertical: three 32-dot lines centred in 1080 lines.
    m->PM_OSD_OUTPUT_OFFSET[1] = 0;
    m->g_unicode_line = 3;
    const int vertical[][2] = {{1, (1080 - 96) / 2}, {2, 1080 - 96}, {7, 1080 - 96}, {0, 0}};
    for (const auto &v : vertical) {
        m->zemApi_OsdSet(35, v[0]);
        EXPECT_EQ(m->g_osd_v_alignment_value_tarix, v[1]) << v[0];
    }
}

TEST_F(OsdItemTest, TextLoadingKeepsNoUnitOfAnotherCharacter)
{
    // Beyond 16 bits: U+1F600 has no glyph (not U+F600), U+20000 would end
    // the line as 0, U+24E00 would draw U+4E00.
    const uint32_t text[1][c331_manage::OSD_LINE_CHARS] = {{0x1F600, 0x20000, 0x24E00, 'A'}};
    const int lengths[1] = {4};
    EXPECT_EQ(m->zemApi_OsdSetUnicode(1, lengths, text), 0);
    EXPECT_EQ(m->g_unicode_line, 1);
    EXPECT_EQ(line(0), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD, u'A'}));
    m->zemApi_OsdSetUnicode(0, lengths, text);
    EXPECT_EQ(m->g_unicode_line, 0);
    EXPECT_EQ(line(0), u"");
}

TEST_F(OsdItemTest, MenuProgrammingClampsToTheWallAndSetsItemsInOrder)
{
    setWord(para::LED_WIDTH, 1920);
    OMENU_PARA e = menu("a\n\nb", 0, 2000, 5000, 100);
    e.font_color = "FF0000";
    e.back_enable = "off";
    e.speed = 30;
    e.effect = 1;
    e.layer = "buttom";
    m->set_OSD_para(e);
    EXPECT_EQ(std::vector<int32_t>(m->PM_OSD_OUTPUT_OFFSET, m->PM_OSD_OUTPUT_OFFSET + 4),
              (std::vector<int32_t>{0, 3840 - 1920, 1080, 1080 - 100 - 1080}));
    EXPECT_EQ(m->PS_CHAR_COLOR, 0x0000FFu);
    EXPECT_EQ(m->PS_BG_TRANS, 1);
    EXPECT_EQ(m->PM_OSD_SCROLL_SPEED, 44);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 3);
    EXPECT_EQ(m->PM_OSD_EN, 1);
    EXPECT_EQ(m->PM_OSD_DATA_MODE, 1);
    EXPECT_EQ(m->g_osd_layer, 1);
    EXPECT_EQ(m->osd_rebuild_request, 1);
    EXPECT_EQ(m->g_unicode_line, 3);
    EXPECT_EQ(line(1), u"");

    // Background on, colours with or without 0x, effects to scroll modes.
    const int modes[5] = {0, 3, 4, 1, 2};
    for (int effect = 0; effect < 5; ++effect) {
        e = menu("x");
        e.back_color = "0x00FF80";
        e.effect = effect;
        m->set_OSD_para(e);
        EXPECT_EQ(m->PM_OSD_SCROLL_MODE, modes[effect]);
    }
    EXPECT_EQ(m->PS_BG_COLOR, 0x80FF00u);
    EXPECT_EQ(m->PS_BG_TRANS, 0);
    // A menu count of 0 programs nothing.
    e.osdcount = 0;
    e.status = "off";
    m->set_OSD_para(e);
    EXPECT_EQ(m->PM_OSD_EN, 1);
}

TEST_F(OsdItemTest, FontSizesSelectFontZoomAndDoubleSize)
{
    struct Case {
        int type, w, h;
        int hzoom, vzoom, dot64, dbl;
    };
    // Each case starts from the 256-dot font; a size the menu file does not
    // name, and a bitmap menu, get the 32-dot font without zoom.
    const Case cases[] = {
        {0, 32, 32, 0, 0, 0, 0},  {0, 64, 64, 0, 0, 1, 0}, {0, 128, 128, 1, 1, 1, 0},
        {0, 256, 256, 1, 1, 1, 1}, {0, 64, 32, 0, 0, 0, 0},  {0, 48, 48, 0, 0, 0, 0},
        {1, 128, 128, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.w << "x" << c.h);
        m->PM_OSD_HZOOM_EN = m->PM_OSD_VZOOM_EN = m->PM_OSD_CHAR_64DOT = m->PM_OSD_CHAR_DOUBLE = 1;
        OMENU_PARA e = menu("x");
        e.type = c.type;
        e.fontw = c.w;
        e.fonth = c.h;
        m->set_OSD_para(e);
        EXPECT_EQ(m->PM_OSD_HZOOM_EN, c.hzoom);
        EXPECT_EQ(m->PM_OSD_VZOOM_EN, c.vzoom);
        EXPECT_EQ(m->PM_OSD_CHAR_64DOT, c.dot64);
        EXPECT_EQ(m->PM_OSD_CHAR_DOUBLE, c.dbl);
    }
}

TEST_F(OsdItemTest, MenuTextKeepsSixtyFourLinesOfTheirFirst128Characters)
{
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += std::to_string(i) + "\n";
    const struct Case {
        std::string text;
        int lines;
        std::u16string first;
    } cases[] = {
        {many, 64, u"0"},
        {"", 1, u""},
        {"ab\r\ncd\r\n", 3, u"ab"},   // "\r\n" ends a line like "\n"
        {"\xE4\xB8\x80x", 1, u"\u4E00x"},
    };
    for (const Case &c : cases) {
        m->set_OSD_para(menu(c.text));
        EXPECT_EQ(m->g_unicode_line, c.lines) << c.text;
        EXPECT_EQ(line(0), c.first) << c.text;
    }
    EXPECT_EQ(m->g_osd_full_cnt_tarix[0], 1);
    EXPECT_EQ(m->g_osd_half_cnt_tarix[0], 1);

    // 200 characters, centred: only the 128 kept count (128 x 16 pixels).
    OMENU_PARA e = menu(std::string(200, 'W'));
    e.w = 3840;
    e.h_align = "center";
    m->set_OSD_para(e);
    EXPECT_EQ(m->g_osd_char_cnt_tarix[0], 128);
    EXPECT_EQ(m->g_osd_max_line_x_tarix[0], (3840 - 128 * 16) / 2);
}

// A former 64-dot menu's right margin does not cut a later 32-dot menu.
TEST_F(OsdItemTest, EveryMenuStartsFromTheWholeOsdMemory)
{
    OMENU_PARA e = menu("x", 0, 0, 500, 1080);
    e.fontw = e.fonth = 64;
    m->set_OSD_para(e);
    EXPECT_EQ(m->PM_OSD_INPUT_OFFSET[1], 3840 - 500);
    m->set_OSD_para(menu("x", 0, 0, 1920, 1080));
    EXPECT_EQ(m->PM_OSD_INPUT_OFFSET[1], 0);
}

// The menu file is read into one list, so a bitmap menu keeps the font
// fields of the text menu before it: shown after a 128-dot text menu it
// still fills its window, above the video.
TEST_F(OsdItemTest, BitmapMenuAfterATextMenuIsShownWhole)
{
    const std::string text = R"({"osdcount": 1, "oactcount": 0, "menu": [{"type": 0, "status": "on",
        "pos": {"x": 0, "y": 0, "w": 1920, "h": 1080, "layer": "buttom"},
        "act": {"effect": 0, "speed": 0, "staytime": 0}, "backpara": {"enable": "on", "color": "000000"},
        "fontpara": {"startx": 0, "starty": 0, "fontw": 128, "fonth": 128, "wordspace": 0, "verticalspace": 0,
                     "color": "FFFFFF"}, "texts": ["BIG"]}]})";
    const std::string bitmap = R"({"osdcount": 1, "oactcount": 0, "menu": [{"type": 1, "status": "on",
        "pos": {"x": 0, "y": 0, "w": 1920, "h": 1080}, "act": {"effect": 0, "speed": 0, "staytime": 0},
        "bmppara": {}, "start": 0, "end": 0}]})";
    OSD_LIST list;
    for (const std::string &json : {text, bitmap}) {
        zemtest::writeFile(root.host(OMENU_FILE), json);
        ASSERT_TRUE(get_json_omenu_para(OMENU_FILE, list));
        m->set_OSD_para(list.entry[0]);
    }
    m->update_osd(m->c331_fd);
    EXPECT_EQ(m->OSD_WIN.HW, 1920);
    EXPECT_EQ(m->OSD_WIN.VW, 1080);
    EXPECT_EQ(onChannel(0x091402, 0), 1920u);
    EXPECT_EQ(onChannel(0x090202, 0), 0x4002u);   // bitmap shown, no zoom, above the video
}

// A bitmap menu on a wall of 3840 x 2160 (2 x 2 channels) takes its source
// from the 1920 x 1080 bitmap, not from the wall-sized character area: it
// shows its whole rectangle, and never more lines than the bitmap has.
TEST_F(OsdItemTest, BitmapMenuOnATallWallShowsItsWholeRectangle)
{
    wall(2, 2);
    setWord(para::LED_HEIGHT, 2160);
    const int cases[][3] = {{1080, 0, 1080}, {700, 380, 700}, {1500, -420, 1080}};   // h, bottom margin, lines shown
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        OMENU_PARA e = menu("", 0, 0, 1920, c[0]);
        e.type = 1;
        m->set_OSD_para(e);
        EXPECT_EQ(m->PM_OSD_INPUT_OFFSET[3], c[1]);
        m->update_osd(m->c331_fd);
        EXPECT_EQ(m->OSD_WIN.HW, 1920);
        EXPECT_EQ(m->OSD_WIN.VW, c[2]);
        EXPECT_EQ(onChannel(0x091802, 0), uint32_t(c[2]));
        EXPECT_EQ(onChannel(0x094202, 0), uint32_t(c[2]));   // the vertical scroll wraps there
    }
}

// A menu as tall as a 16-bit height (or taller) is as tall as the wall: the
// memory engine never copies more lines than the OSD area has.
TEST_F(OsdItemTest, MenuHeightIsClampedToTheWall)
{
    wall(1, 1);
    setWord(para::LED_WIDTH, 1920);
    for (int h : {65535, 1000000}) {
        SCOPED_TRACE(h);
        chip->engine().clearOps();
        m->set_OSD_para(menu("x", 0, 100, 1920, h));
        EXPECT_EQ(m->PM_OSD_OUTPUT_OFFSET[3], 1080 - 1080 - 100);
        EXPECT_EQ(m->PM_OSD_INPUT_OFFSET[3], 0);
        m->update_osd(m->c331_fd);
        EXPECT_EQ(onChannel(0x091802, 0), 980u);
        for (const Engine::Op &op : chip->engine().ops())
            EXPECT_LE(op.height, 1080u);
    }
    // The area and the second area's four tiles, 4096 bytes a line.
    EXPECT_LE(chip->memory().pages(), 3 * 1080 * 4096 / platform::sim::SimChipMemory::PAGE + 2);
}

} // namespace
