// On-screen display.

#include "videoproc/c331_manage.h"

// The OSD programming comes with the OSD support; until then it is recorded
// only.
int c331_manage::zemApi_OsdSet(int item, int value)
{
    note_call("zemApi_OsdSet(%d,%d)", item, value);
    return 1;
}
void c331_manage::set_OSD_para(OMENU_PARA &para) { note_call("set_OSD_para(%d)", para.osdcount); }
void c331_manage::update_osd(int fd) { note_call("update_osd()"); }
void c331_manage::set_osd(int fd, int which) { note_call("set_osd(%d)", which); }
void c331_manage::set_scroll(int fd) { note_call("set_scroll()"); }
void c331_manage::load_char()
{
    note_call("load_char()");
    load_font_map();
}
