// LED panel and output timing.

#include "videoproc/c331_manage.h"

// The panel set-up comes with the LED panel support; until then it is
// recorded only.
void c331_manage::zemApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice)
{
    note_call("zemApi_PnlInit2(%d,%d,%d,%d,%d)", ledW, ledH, out1w, out1h, splice);
}
