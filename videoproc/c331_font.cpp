// OSD fonts in the chip's serial flash.

#include "videoproc/c331_manage.h"

// The font loading comes with the font support; until then it is recorded
// only.
void c331_manage::read_c331_font(int fd) { note_call("read_c331_font()"); }
void c331_manage::update_font(int fd) { note_call("update_font()"); }
