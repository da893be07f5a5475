// Window output sequence, crops and output modes.

#include "videoproc/c331_manage.h"

// The window pipeline setters come with their window support; until then
// they are recorded only.
void c331_manage::set_output(int fd) { note_call("set_output()"); }
void c331_manage::c331_SetInputsourceCrop(int win, int crop_word)
{
    note_call("c331_SetInputsourceCrop(%d,0x%04X)", win, crop_word);
}
void c331_manage::c331_SetCrop(uint8_t win, uint8_t enable, ST_RECT *rect)
{
    if (enable && rect)
        note_call("c331_SetCrop(%d,1,%d,%d,%d,%d)", win, rect->x, rect->y, rect->w, rect->h);
    else
        note_call("c331_SetCrop(%d,%d)", win, enable);
}
void c331_manage::c331_SetWinAttr(uint8_t win, int word) { note_call("c331_SetWinAttr(%d,%d)", win, word); }
void c331_manage::c331_SetWinOutput(int fd, uint8_t win, int word) { note_call("c331_SetWinOutput(%d,%d)", win, word); }
void c331_manage::c331_SetWinDbdMode(int fd, uint8_t win, int word) { note_call("c331_SetWinDbdMode(%d,%d)", win, word); }
void c331_manage::reset_act(int fd, int mode) { note_call("reset_act(%d)", mode); }
void c331_manage::set_freeze(int fd, int on) { note_call("set_freeze(%d)", on); }
// Output channels of a window by area number: list[a] is the channel that
// draws area a of the window, -1 when none does.
void c331_manage::get_och(int win, int32_t *list)
{
    for (int a = 0; a < OCH_NUM; ++a)
        list[a] = -1;
    for (int j = 0; j < OCH_NUM; ++j) {
        const int a = PM_AREA_NUM[j];
        if (PM_WIN_NUM[j] == win && a >= 0 && a < OCH_NUM && list[a] < 0)
            list[a] = j;
    }
}
void c331_manage::win_freeze_sel(int fd, int win, int on) { note_call("win_freeze_sel(%d,%d)", win, on); }
void c331_manage::zemApi_updateCrop(int port) { note_call("zemApi_updateCrop(%d)", port); }

