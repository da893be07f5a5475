#ifndef VIDEOPROC_OMENU_H
#define VIDEOPROC_OMENU_H

// The OSD menu file /data/configs/omenu.json as read into memory: three menu
// entries in file order.

#include <string>

struct OMENU_PARA {
    int osdcount = 0;
    int oactcount = 0;
    int type = 0;
    std::string status;
    int x = 0, y = 0, w = 0, h = 0;
    int effect = 0, speed = 0, staytime = 0;
    std::string h_align, v_align;
    std::string back_enable, back_color;
    std::string layer;
    int startx = 0, starty = 0, fontw = 0, fonth = 0, wordspace = 0, verticalspace = 0;
    std::string font_color;
    std::string text;
    int bmp_start = 0, bmp_end = 0;
};

struct OSD_LIST {
    OMENU_PARA entry[3];
};

// The live OSD menu.
extern OSD_LIST g_osd_list;

// Reads the menu file at `path` into `list`.
void get_json_omenu_para(const char *path, OSD_LIST &list);

#endif
