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
void c331_manage::get_och(int win, int32_t *list)
{
    note_call("get_och(%d)", win);
    for (int a = 0; a < OCH_NUM; ++a)
        list[a] = -1;
}
void c331_manage::win_freeze_sel(int fd, int win, int on) { note_call("win_freeze_sel(%d,%d)", win, on); }
void c331_manage::zemApi_updateCrop(int port) { note_call("zemApi_updateCrop(%d)", port); }

// The window rectangles, display windows and filter tables come with the
// window support; until then they are recorded only.
void c331_manage::calc_iwin2(int w) { note_call("calc_iwin2(%d)", w); }
void c331_manage::calc_owin2(int w) { note_call("calc_owin2(%d)", w); }
void c331_manage::calc_oact(_ImageWindowDef_st owin, _ImageWindowDef2_St *areas, int w) { note_call("calc_oact(%d)", w); }
void c331_manage::calc_scaling(_ImageWindowDef_st in, _ImageWindowDef_st out, _ScalingSt *s)
{
    note_call("calc_scaling()");
    *s = _ScalingSt{};
}
int c331_manage::check_stitching_win(int32_t *w, int32_t *partner)
{
    note_call("check_stitching_win(%d)", *w);
    return 0;
}
void c331_manage::set_display_window_ich(int fd, _ImageWindowDef_st iwin, _ImageWindowDef_st owin, int w)
{
    note_call("set_display_window_ich(%d)", w);
}
void c331_manage::set_display_window_ich_dbd(int fd, int w, int mode) { note_call("set_display_window_ich_dbd(%d,%d)", w, mode); }
void c331_manage::set_display_window_och(int fd, _ImageWindowDef_st in, _ImageWindowDef_st owin, int w)
{
    note_call("set_display_window_och(%d)", w);
}
void c331_manage::set_oscwct(int fd, int och) { note_call("set_oscwct(%d)", och); }
void c331_manage::set_lut_vzoom_4sym(int fd, int ratio, int och) { note_call("set_lut_vzoom_4sym(%d,%d)", ratio, och); }
void c331_manage::set_lut_hshrnk(int fd, int ratio, int ich, int dual) { note_call("set_lut_hshrnk(%d,%d,%d)", ratio, ich, dual); }
void c331_manage::set_lut_vshrnk(int fd, int ratio, int ich) { note_call("set_lut_vshrnk(%d,%d)", ratio, ich); }
void c331_manage::set_lut_hzoom(int fd, int unused, int och) { note_call("set_lut_hzoom(%d)", och); }
void c331_manage::set_lut_vshrnk_4sym(int fd, int ratio, int ich, int dual) { note_call("set_lut_vshrnk_4sym(%d,%d,%d)", ratio, ich, dual); }
void c331_manage::set_iscwct(int fd, int win) { note_call("set_iscwct(%d)", win); }
