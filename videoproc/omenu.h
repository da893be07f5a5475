#ifndef VIDEOPROC_OMENU_H
#define VIDEOPROC_OMENU_H

// The OSD menu file /data/configs/omenu.json as read into memory: three menu
// entries in file order. The PC tool sends the file; a user mode saved while
// the OSD is shown keeps a copy of it beside the mode.

#include <cstdint>
#include <string>

struct OMENU_PARA {
    int osdcount = 0;          // menus in the file (first entry only); 0 = nothing to show
    int oactcount = 0;         // actions in the file (first entry only)
    int type = 0;              // 0 text menu, 1 bitmap menu
    std::string status;        // "on" shows the OSD
    int x = 0, y = 0, w = 0, h = 0;
    int effect = 0, speed = 0, staytime = 0;
    std::string h_align, v_align;
    std::string back_enable, back_color;
    std::string layer;
    int startx = 0, starty = 0, fontw = 0, fonth = 0, wordspace = 0, verticalspace = 0;
    std::string font_color;
    std::string text;          // lines separated by "\n"
    int bmp_start = 0, bmp_end = 0;
};

struct OSD_LIST {
    OMENU_PARA entry[3];
};

// The live OSD menu.
extern OSD_LIST g_osd_list;

// The live menu file.
extern const char *const OMENU_FILE;

// Reads the menu file at `path` into `list`. The first entry's menu count is
// set to 0 first; the other fields keep what they held unless the file sets
// them (a count with an empty "menu" array sets the count alone). A file
// that cannot be read leaves the count at 0; a file that is no menu file
// (not JSON, a required key missing or of the wrong kind, an empty "texts")
// leaves it at 0 too and, when it is the live menu file, is deleted so that
// the PC tool sends it again. Numbers are whole numbers up to a
// million either way, written as numbers or as decimal strings. True when the
// file was read as a menu file.
bool get_json_omenu_para(const char *path, OSD_LIST &list);

// A menu colour: hexadecimal RRGGBB digits, with or without "0x".
bool omenu_color(const std::string &text, uint32_t &rgb);

#endif
