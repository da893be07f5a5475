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
