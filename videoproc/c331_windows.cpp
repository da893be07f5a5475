// Window output sequence, layers, crops and output modes.

#include "videoproc/c331_manage.h"

// Records the window's layer; the mixers are programmed by c331_SetWinPriority1.
void c331_manage::c331_SetWinPriority(int win, int pri)
{
    note_call("c331_SetWinPriority(%d,%d)", win, pri);
    if (win >= 0 && win < WIN_NUM)
        gWininfo[win].layer = static_cast<uint8_t>(pri & 0xFF);
}

// The window pipeline setters come with their window support; until then
// they are recorded only.
void c331_manage::set_output(int fd) { note_call("set_output()"); }
void c331_manage::c331_SetWinPriority1(int fd) { note_call("c331_SetWinPriority1()"); }
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
