// Picture quality.

#include "videoproc/c331_manage.h"

// The picture setters come with the picture quality support; until then they
// are recorded only.
void c331_manage::c331_SetBrightness(uint16_t value) { note_call("c331_SetBrightness(%d)", value); }
void c331_manage::c331_SetContrast(uint16_t value) { note_call("c331_SetContrast(%d)", value); }
void c331_manage::c331_SetSharpness(uint16_t value) { note_call("c331_SetSharpness(%d)", value); }
void c331_manage::c331_SetSaturation(uint16_t value) { note_call("c331_SetSaturation(%d)", value); }
void c331_manage::c331_SetColorTemp(uint32_t word) { note_call("c331_SetColorTemp(0x%08X)", word); }
void c331_manage::zemApi_forceColorDisable(int fd) { note_call("zemApi_forceColorDisable()"); }
void c331_manage::set_ip(int fd, int ich) { note_call("set_ip(%d)", ich); }
void c331_manage::set_mct(int fd, int win, int refresh) { note_call("set_mct(%d,%d)", win, refresh); }
