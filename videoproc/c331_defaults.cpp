#include "videoproc/c331_defaults.h"
#include "videoproc/c331_manage.h"

// One window over the whole start-up output (two channel tiles), showing
// source 0 (chip port 3); every other window idle.
const int32_t c331_manage::parameters_txt[c331_defaults::PT_COUNT] = {
    // tile counts
    2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // chip input ports (window 0 shows source 0 on port 3)
    3, 6, 6, 6, 6, 6,
    // output offsets
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // crop offsets
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // channel -> window
    0, 0, 6, 6, 6, 6, 6, 6,
    // channel -> area
    0, 1, 8, 8, 8, 8, 8, 8,
    // channel -> tile position + 1
    1, 2, 3, 4, 5, 6, 7, 8,
    // fade in, fade out (frames), fade enable
    60, 60, 60, 60, 60, 60,
    60, 60, 60, 60, 60, 60,
    0, 0, 0, 0, 0, 0,
    // dot-by-dot modes
    0, 0, 0, 0, 0, 0,
    // stitching order
    0, 1, 2, 3, 4, 5,
    // preferred memory packing
    0, 0, 0, 0, 0, 0,
    // capture offsets H, V
    0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0,
    // crop enables
    0, 0, 0, 0, 0, 0,
    // stacking priorities
    5, 4, 3, 2, 1, 0,
    // input channel owners
    0, -1, -1, -1, -1, -1, -1, -1,
    // OSD scroll speed, scroll mode
    1, 0,
};
