// Input ports and input monitoring.

#include "videoproc/c331_manage.h"

// Chip input port of a source: 0..5 give 3, 2, 1, 0, 5, 4; anything else 255.
int c331_manage::zemApi_inputCvtC331(int source)
{
    static const int ports[6] = {3, 2, 1, 0, 5, 4};
    return source >= 0 && source < 6 ? ports[source] : 255;
}

// Ports of a window that shows several ports side by side; 1 with the list
// filled (6 = none), 0 for a single-port window.
int c331_manage::zemApi_GetWinDbdMultiPort(int win, int *list)
{
    for (int k = 0; k < 6; ++k)
        list[k] = 6;
    if (win < 0 || win >= WIN_NUM)
        return 0;
    switch (PM_WIN_DBD_MODE[win]) {
    case 20: case 21: list[0] = 0; list[1] = 1; return 1;
    case 22: case 23: list[0] = 2; list[1] = 3; return 1;
    case 30: list[0] = 0; list[1] = 1; list[2] = 2; return 1;
    case 40: case 41: list[0] = 0; list[1] = 1; list[2] = 2; list[3] = 3; return 1;
    case 50: case 51: list[0] = 5; list[1] = 4; return 1;
    default: return 0;
    }
}

// The input measurement and set-up come with the input port support; until
// then they are recorded only.
void c331_manage::load_hdmi() { note_call("load_hdmi()"); }
void c331_manage::check_port_valid(int fd) { note_call("check_port_valid()"); }
void c331_manage::check_input_port(int fd) { note_call("check_input_port()"); }
void c331_manage::c331_SetInputsource(int win, int source) { note_call("c331_SetInputsource(%d,%d)", win, source); }
int c331_manage::zemApi_IsWinValid(int w) { return w >= 0 && w < WIN_NUM ? 1 : 0; }

// Input-channel allocation, dot-by-dot memory and the input waits come with
// the input support; until then they are recorded only.
int c331_manage::check_ich_all(int win) { note_call("check_ich_all(%d)", win); return -1; }
int c331_manage::check_ich(int interlaced, int pair) { note_call("check_ich(%d,%d)", interlaced, pair); return -1; }
int c331_manage::adjust_ich(int interlaced, int pair, int win) { note_call("adjust_ich(%d,%d,%d)", interlaced, pair, win); return -1; }
int c331_manage::set_input(int win, int port) { note_call("set_input(%d,%d)", win, port); return 2; }
void c331_manage::reset_ich(int win) { note_call("reset_ich(%d)", win); }
void c331_manage::set_ichsel(int fd, int win) { note_call("set_ichsel(%d)", win); }
void c331_manage::set_idual(int fd, int ich, int on, int port) { note_call("set_idual(%d,%d,%d)", ich, on, port); }
void c331_manage::reset_dbd_mem(int win) { note_call("reset_dbd_mem(%d)", win); }
int c331_manage::check_dbd_input(int port) { note_call("check_dbd_input(%d)", port); return 0; }
int c331_manage::set_dbd_mem(int fd, int win) { note_call("set_dbd_mem(%d)", win); return -1; }
void c331_manage::wait1_pivs(int fd, int ich) { note_call("wait1_pivs(%d)", ich); }
void c331_manage::wait1_pivs2(int fd) { note_call("wait1_pivs2()"); }
int c331_manage::wait_ifld_change(int fd, int port) { note_call("wait_ifld_change(%d)", port); return 0; }
int c331_manage::wait_ofld_change(int fd, int och) { note_call("wait_ofld_change(%d)", och); return 0; }
