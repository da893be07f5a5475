// The OSD menu file as the PC tool writes it, and files that are no menu
// file: what the reader takes, and what it leaves on the device.

#include "support/temp_root.h"

#include "platform/files.h"
#include "videoproc/omenu.h"

#include <gtest/gtest.h>

namespace {

using zemtest::writeFile;

const char *const COPY = "/data/modes/MO01.json";

const std::string TEXT_MENU = R"({"type": 0, "status": "on",
    "pos": {"x": 10, "y": "20", "w": 300, "h": 64},
    "act": {"effect": 1, "speed": 3, "staytime": 0},
    "backpara": {"enable": "off", "color": "0x102030"},
    "fontpara": {"startx": 0, "starty": 0, "fontw": 32, "fonth": 32, "wordspace": 0, "verticalspace": 0,
                 "color": "FF0000"},
    "texts": ["a\nb", "c"]})";
const std::string BITMAP_MENU = R"({"type": 1, "status": "off", "pos": {"x": 0, "y": 0, "w": 1920, "h": 1080},
    "act": {"effect": 0, "speed": 0, "staytime": 0}, "bmppara": {}, "start": 2, "end": 9})";

std::string file(int count, const std::string &menus) { return "{\"name\": \"m\", \"osdcount\": " + std::to_string(count) + ", \"oactcount\": 1, \"menu\": [" + menus + "]}"; }

class OmenuTest : public zemtest::RootTest
{
protected:
    // Writes the live menu file and reads it into a fresh list.
    bool read(const std::string &json, const char *path = OMENU_FILE)
    {
        writeFile(root.host(path), json);
        list = OSD_LIST();
        return get_json_omenu_para(path, list);
    }
    OSD_LIST list;
};

TEST_F(OmenuTest, TextMenuFieldsWithTheirDefaults)
{
    ASSERT_TRUE(read(file(1, TEXT_MENU)));
    const OMENU_PARA &e = list.entry[0];
    EXPECT_EQ(e.osdcount, 1);
    EXPECT_EQ(e.y, 20);   // a number written as a string
    EXPECT_EQ(e.back_color, "0x102030");
    EXPECT_EQ(e.text, "a\nb");   // the first of the texts
    EXPECT_EQ(e.h_align + e.v_align + e.layer, "lefttop");
}

TEST_F(OmenuTest, MenusFillTheEntriesInFileOrder)
{
    ASSERT_TRUE(read(file(4, BITMAP_MENU + "," + TEXT_MENU + "," + TEXT_MENU + ",\"not read\"")));
    EXPECT_EQ(list.entry[0].osdcount, 4);
    EXPECT_EQ(list.entry[0].type, 1);
    EXPECT_EQ(list.entry[0].bmp_start, 2);
    EXPECT_EQ(list.entry[0].bmp_end, 9);
    EXPECT_EQ(list.entry[1].text, "a\nb");
    EXPECT_EQ(list.entry[2].x, 10);

    // A count with an empty array sets the count and keeps the entries.
    writeFile(root.host(OMENU_FILE), file(2, ""));
    ASSERT_TRUE(get_json_omenu_para(OMENU_FILE, list));
    EXPECT_EQ(list.entry[0].osdcount, 2);
    EXPECT_EQ(list.entry[0].bmp_end, 9);
    EXPECT_EQ(list.entry[1].text, "a\nb");
    EXPECT_TRUE(platform::files::exists(OMENU_FILE));

    // A count of 0 needs no menus; the file stays.
    ASSERT_TRUE(read(R"({"osdcount": 0, "oactcount": 0})"));
    EXPECT_EQ(list.entry[0].osdcount, 0);
    EXPECT_TRUE(platform::files::exists(OMENU_FILE));
}

// Each of these is no menu file: the count stays 0 and the live file is
// removed so that the PC tool sends it again. The parser refuses nesting
// 100000 deep rather than overflowing the stack.
TEST_F(OmenuTest, FilesThatAreNoMenuFileGiveNothingAndAreRemoved)
{
    auto replace = [](std::string s, const std::string &from, const std::string &to) {
        return s.replace(s.find(from), from.size(), to);
    };
    const std::string cases[] = {
        "{\"osdcount\": 1,",
        "[1, 2]",
        R"({"osdcount": 1, "oactcount": 0})",
        R"({"osdcount": 1, "menu": [{"type": 0, "status": "on"}]})",
        file(1, replace(TEXT_MENU, "[\"a\\nb\", \"c\"]", "[]")),
        file(1, replace(TEXT_MENU, "\"w\": 300", "\"w\": \"wide\"")),
        file(1, replace(TEXT_MENU, "\"status\": \"on\"", "\"status\": 1")),
        file(1, replace(TEXT_MENU, "\"FF0000\"", "\"red\"")),
        file(1, replace(TEXT_MENU, "\"x\": 10", "\"x\": 10.5")),
        file(1, replace(TEXT_MENU, "\"x\": 10", "\"x\": \"-2147483648\"")),
        file(1, replace(BITMAP_MENU, "\"bmppara\": {}, \"start\": 2, \"end\": 9", "\"bmppara\": {\"start\": 2, \"end\": 9}")),
        "{\"osdcount\": 1, \"menu\": " + std::string(100000, '[') + std::string(100000, ']') + "}",
    };
    for (const std::string &json : cases) {
        SCOPED_TRACE(json.substr(0, 200));
        EXPECT_FALSE(read(json));
        EXPECT_EQ(list.entry[0].osdcount, 0);
        EXPECT_FALSE(platform::files::exists(OMENU_FILE));
    }
    // A user mode's copy is kept; a missing file is no failure of the device.
    EXPECT_FALSE(read("{", COPY));
    EXPECT_TRUE(platform::files::exists(COPY));
    EXPECT_FALSE(get_json_omenu_para("/data/configs/none.json", list));
}

} // namespace
