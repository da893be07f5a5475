// Test patterns and input background.

#include "videoproc/c331_manage.h"

int c331_manage::zemApi_IsPatternGen() { return pattern_on != 0 ? 1 : 0; }

// The pattern generator comes with the test pattern support; until then the
// request is recorded only.
int c331_manage::c331_SetPattern(int n)
{
    note_call("c331_SetPattern(%d)", n);
    return 0;
}
void c331_manage::set_input_bkg(int fd, int port, int on) { note_call("set_input_bkg(%d,%d)", port, on); }
void c331_manage::set_input_bkg2(int fd, int win, int on) { note_call("set_input_bkg2(%d,%d)", win, on); }
