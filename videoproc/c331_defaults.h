#ifndef VIDEOPROC_C331_DEFAULTS_H
#define VIDEOPROC_C331_DEFAULTS_H

// Start values of the chip model that the chip's own set-up does not derive:
// the provisional per-window and per-channel table loaded at bring-up, the
// frame-buffer ring, and the bound of the wait for the LED geometry
// hand-shake. The panel set-up and the window re-layout recompute the tables.

#include <cstdint>

namespace c331_defaults {

// c331_manage::parameters_txt: 160 values, in this order.
constexpr int PT_SHAPE = 0;          // 6 x (tiles across, down)       0..11
constexpr int PT_INPUT = 12;         // 6 chip input ports             12..17
constexpr int PT_WIN_OFFSET = 18;    // 6 x 4 output offsets           18..41
constexpr int PT_CROP_OFFSET = 42;   // 6 x 4 crop offsets             42..65
constexpr int PT_WIN_NUM = 66;       // 8 channel -> window            66..73
constexpr int PT_AREA_NUM = 74;      // 8 channel -> area              74..81
constexpr int PT_OVERLAY = 82;       // 8 channel -> position + 1      82..89
constexpr int PT_FADE_IN = 90;       // 6                              90..95
constexpr int PT_FADE_OUT = 96;      // 6                              96..101
constexpr int PT_FADE_EN = 102;      // 6                              102..107
constexpr int PT_DBD_MODE = 108;     // 6                              108..113
constexpr int PT_STITCHING = 114;    // 6                              114..119
constexpr int PT_MEM_WMODE = 120;    // 6 preferred memory packing     120..125
constexpr int PT_IACTHST = 126;      // 6 capture offsets              126..131
constexpr int PT_IACTVST = 132;      // 6                              132..137
constexpr int PT_CROP_EN = 138;      // 6                              138..143
constexpr int PT_OVERLAY_PRI = 144;  // 6                              144..149
constexpr int PT_ICH_OWNER = 150;    // 8 input channel -> window      150..157
constexpr int PT_OSD_SCROLL_SPEED = 158;
constexpr int PT_OSD_SCROLL_MODE = 159;
constexpr int PT_COUNT = 160;

// Frame-buffer ring of every window: four buffers written in turn, one spare.
constexpr uint8_t BUF_RING[5] = {0, 1, 2, 3, 4};

// Longest wait, in milliseconds, for the FPGA thread to finish applying a new
// LED geometry before the panel is re-initialised anyway.
constexpr unsigned LED_PARA_WAIT_MS = 2000;

} // namespace c331_defaults

#endif
