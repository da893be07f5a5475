#ifndef TESTS_SUPPORT_OSD_MENU_H
#define TESTS_SUPPORT_OSD_MENU_H

#include <string>

namespace zemtest {

// An OSD menu file as the PC tool sends it: one text menu, shown, over the
// top left 1920 x `h` of the wall in the 32-dot font, with `text` (lines
// separated by "\n", JSON-escaped by the caller).
inline std::string osdMenuJson(const std::string &text, long h = 1080)
{
    return R"({"name": "test", "osdcount": 1, "oactcount": 0, "menu": [{"type": 0, "status": "on",
        "pos": {"x": 0, "y": 0, "w": 1920, "h": )" + std::to_string(h) + R"(}, "act": {"effect": 0, "speed": 0, "staytime": 0},
        "backpara": {"enable": "on", "color": "000000"},
        "fontpara": {"startx": 0, "starty": 0, "fontw": 32, "fonth": 32, "wordspace": 0, "verticalspace": 0,
                     "color": "FFFFFF"},
        "texts": [")" + text + R"("]}]})";
}

} // namespace zemtest

#endif
