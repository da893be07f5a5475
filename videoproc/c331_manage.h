#ifndef VIDEOPROC_C331_MANAGE_H
#define VIDEOPROC_C331_MANAGE_H

// Owner of the video processing chip: the chip model, the register driver and
// the chip thread (bring-up, then the apply loop and input polling).
//
// Every writer of the parameter image takes the image's lock (ParaLock,
// app/para_lock.h), changes the image and raises the apply request, which
// the chip manager names para_changed (1 = changed, 2 = changed and the user
// modes are to be examined again). The chip thread's apply pass takes the
// request and one copy of the image and its snapshot under that lock, lets
// go, programs what differs, ends the request under the lock again and then
// sends ZemRamPara::sig_update_para with its code. A request raised during
// the pass is applied by the next one.
//
// Lock rules for the chip code (the whole account is app/threads.h):
// manage_mutex is the lock of the chip model and the pass; the chip thread
// holds it for the apply pass and the re-programming after an input change.
// The area setters run inside it and take only Utils::_led_para_init_mutex
// or Utils::_bri_set_mutex, then the register locks (_c331_bnk_mutex,
// _spi_mutex), and the image's lock only for their short write-backs; they
// never call test_signal, never wait for the GUI thread, and never wait on
// hardware without a bound. They read the image through para_image().
//
// The member functions are spread over several files by concern:
//   c331_manage.cpp  singleton, thread, bring-up, call log
//   c331_apply.cpp   apply pass and input/OSD polling
//   c331_model.cpp   system parameters, defaults, window model from the image
//   c331_init.cpp    initial register set, register-update timing control
//   c331_panel.cpp   LED panel and output timing
//   c331_layout.cpp  window set and output-channel allocation
//   c331_layers.cpp  layer mixers, fades, output-frame waits
//   c331_dump.cpp    register and model dumps
//   c331_rects.cpp, c331_scaler.cpp, c331_display_ich.cpp, c331_display_och.cpp
//                    window rectangles, filter tables, display windows
//   c331_quality.cpp, c331_nr.cpp  picture quality, noise reduction, deinterlacer
//   c331_flash.cpp, c331_font.cpp  the chip's serial flash and the OSD fonts
//   c331_osd.cpp, c331_osd_menu.cpp, c331_osd_draw.cpp, c331_osd_window.cpp
//                    OSD items and text layout, menu programming, drawing,
//                    window and scrolling
//   c331_windows.cpp the window output sequence and the held picture
//   c331_winmodes.cpp  input crops and the windows' output modes
//   c331_inputs.cpp, c331_pattern.cpp, c331_debug.cpp
//                    the setters of the other areas

#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/thread_wake.h"
#include "videoproc/c331_defaults.h"
#include "videoproc/c331_drv.h"
#include "videoproc/omenu.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <pthread.h>
#include <string>
#include <utility>
#include <vector>

typedef struct {
    int32_t x, y, w, h;
} ST_RECT;

typedef struct {
    int count;
    ST_RECT *pwin;
} ST_MWIN;

// One enabled window as the chip sees it (slot n = the n-th enabled window).
typedef struct {
    uint16_t x, y, w, h;          // output coordinates
    uint8_t rotate;               // bit 0 horizontal mirror, bit 1 vertical mirror
    uint8_t outmode;              // bits 1..0 of the window's output word
    uint8_t winEn;
    uint8_t input;                // source number 0..5
    uint8_t crop;                 // crop record index when the window shows a crop
    uint8_t layer;                // 0..5, unique among enabled windows
    uint8_t ochLst[8];            // output channels drawing the window, 0xFF = empty
    uint8_t ochPosLst[8];         // tile positions covered, same order
    uint8_t och_HCnt, och_VCnt;   // tiles across and down
} ST_WIN_INFO;

typedef struct {
    int32_t width, height;
} ST_SIZE;

// The LED panel as the output is arranged for it (rebuilt by every panel set-up).
typedef struct {
    uint16_t width, height;
    uint16_t w1, w2, h1, h2;
    uint16_t xoffs, yoffs;
    uint8_t och_HCnt, och_VCnt;
    int splice;
    int ochBW;
    int arrang;
    ST_SIZE och;
    int HTT, HSW, HFP;
    int VTT, VSW, VFP;
    uint8_t use1och;
} ST_PANEL;

// The chip model's copy of a receiver's timing record.
typedef struct {
    int32_t Hact, Hsync, Hback, Hpol, Htotal;
    int32_t Vact, Vsync, Vback, Vpol, Vtotal;
    float pfreq;
    int32_t type, datamode, lane, ip, nosignal, stable;
} ST_HDMI_INFO;

// Active rectangle of an input port.
typedef struct {
    int32_t hst, hw, vst, vw;
} ST_ACT;

// The chip's own measurement of an input port.
typedef struct {
    int32_t HTOTAL, VTOTAL, FHW, FVM, ACTHW, STATE, lane, NOSIG, IP;
} ST_PORT_INFO;

// Output bookkeeping of one input-channel slot (seven slots).
typedef struct {
    int32_t och[8];
    int32_t oimgct;
} ST_ICH_OUT;

// Output record of one window; the last word is the window's output count.
typedef struct {
    int32_t words[7];
    int32_t last;
} ST_WIN_OUT;

// One rectangle of a window: on the input side (which source pixels are
// used) or on the output side (where they go inside the window's areas).
typedef struct {
    int32_t HST, HW, VST, VW;
} _ImageWindowDef_st;

// One output area's share of a window: column i's horizontal segment and row
// i's vertical segment, with flags on the first and last area touched.
typedef struct {
    int32_t hst, hw, vst, vw;
    int32_t hfirst, hlast, vfirst, vlast;
} _ImageWindowDef2_St;

// Scaling of one window: mode 0 none, 1 shrink, 2 zoom; ratios are 16.16
// fractions not above 0x10000.
typedef struct {
    int32_t hmode, vmode;
    int32_t hshrink, vshrink;
    int32_t hzoom, vzoom;
} _ScalingSt;

// What one input channel captures: pixel clock of the first pixel, pixels,
// first line, lines.
typedef struct {
    int32_t hst, hw, vst, vw;
} IchCapture;

// One call of an area setter, as recorded for inspection.
struct c331_call {
    std::string text;       // e.g. "c331_SetContrast(40)"
    bool manage_held;       // the chip thread held manage_mutex at the call
};

class c331_manage
{
public:
    static constexpr int WIN_NUM = 6;
    static constexpr int OCH_NUM = 8;
    static constexpr int ICH_NUM = 8;
    static constexpr int PORT_NUM = 6;
    static constexpr int CMOS_NUM = 4;

    // The program's chip manager: created, initialised and its thread started
    // on the first call.
    static c331_manage *pInstance();
    // The same object without opening the chip or starting the thread.
    static c331_manage *instance();
    static c331_manage *p_c331_manage;

    // The program uses the singleton; tests create their own managers.
    c331_manage();
    ~c331_manage();
    c331_manage(const c331_manage &) = delete;
    c331_manage &operator=(const c331_manage &) = delete;

    // The image as loaded becomes what the chip is taken to show, and a
    // pending request is dropped: the first pass programs what changed since
    // (pInstance does this before the thread starts).
    void take_loaded_image();
    int initialize();
    static void Sleep(int ms);
    static void *c331manageThread(void *obj);
    static void c331managerdeal(void *obj);

    // One turn of the chip thread: acts on setup_state.
    void run_turn();
    // Ends the chip thread of a manager that tests created.
    void stop_thread();
    // The chip thread sleeps until there is work: an apply request, a call of
    // wake(), or its next input check. wake() makes it run a turn now.
    void wake() { m_wake.notify(); }
    // The receivers' timing records changed: the next turn checks the inputs
    // whatever the time, and runs now.
    void inputs_changed();
    // When the thread's next turn is due after a turn that found the bring-up
    // in `state_before`: at once while the bring-up advances, a probe retry
    // later while the chip does not answer, the next input check in the
    // running state (never while a test pattern stops the input checks).
    std::chrono::steady_clock::time_point next_turn(int state_before) const;
    // Pause before the identity is read again when the chip did not answer.
    static constexpr unsigned PROBE_RETRY_MS = 10;

    // ---- apply hand-shake ----
    // The lock of the chip model and the pass, and the store's apply request
    // (guarded by the image's lock, ParaLock).
    pthread_mutex_t manage_mutex;
    uint8_t &para_changed = para_lock::request();
    std::atomic<uint8_t> setup_state{0};
    int c331_fd = -1;
    c331_drv *c331drv;
    pthread_t manage_thread;

    // ---- chip model: system parameters ----
    uint32_t PS_XTAL = 0;
    uint32_t PS_MEM_CLK = 0, PS_MEM_CLK4 = 0;
    uint32_t PS_ICLK1 = 0, PS_ICLK2 = 0;
    int32_t PS_ACTHW = 0, PS_ACTVW = 0, PS_HTOTAL = 0, PS_VTOTAL = 0;
    int32_t PS_HSW = 0, PS_HBP = 0, PS_HFP = 0, PS_VSW = 0, PS_VBP = 0;
    int32_t PS_VBOTX_MODE = 0, PS_VBOTX_LAYOUT = 0;
    uint8_t PS_ICLK_DIV[5] = {};
    uint8_t PS_OCLK_DIV[4] = {};
    uint32_t PS_MEM_SC[8][5] = {};
    uint32_t PS_ICH_MEMVAL = 0;
    uint32_t PS_MEM_REGION[5] = {};
    uint32_t PS_MEM_DBD = 0, PS_INPUT_CHECK = 0;
    uint32_t PS_MEM_IP_I[CMOS_NUM][4] = {};
    uint32_t PS_MEM_IP_P[CMOS_NUM][4] = {};
    uint32_t PS_MEM_IPYOFF[CMOS_NUM] = {};
    uint32_t PS_MEM_MV[CMOS_NUM] = {};
    uint32_t PS_MWI_IP[CMOS_NUM] = {};
    uint32_t PS_MEM_FLAG[6] = {};
    uint32_t PS_MEM_WORD[6] = {};
    uint32_t PS_SFL_ADDR = 0, PS_MEM_OSD = 0, PS_MEM_OSD1 = 0, PS_FONT_ADDR = 0;
    int32_t PS_OAOIHST = 0, PS_OAOIHED = 0, PS_OAOIVST = 0, PS_OAOIVED = 0;
    int32_t PS_ACTHST = 0, PS_ACTVST = 0;
    int32_t PS_PANEL_HW = 0, PS_PANEL_VW = 0, PS_PANEL_HSHAPE = 0, PS_PANEL_VSHAPE = 0;
    int32_t PS_MEM_WMODE[WIN_NUM] = {};
    int32_t PS_VBO_2LANE = 0, PS_VBO_4LANE = 0, PS_VBO_8LANE = 0;
    // OSD and font stores
    uint32_t PS_BG_COLOR = 0, PS_CHAR_COLOR = 0;
    int32_t PS_BG_HACT = 0, PS_BG_VACT = 0, PS_BG_TRANS = 0;
    int32_t PS_CHAR_HST = 0, PS_CHAR_VST = 0;
    uint32_t PS_BMP_ADDR = 0, PS_BMPCP_ADDR = 0;
    int32_t PS_BMP_HACT = 0, PS_BMP_VACT = 0;
    uint32_t PS_CHAR_ADDR_32ASCII = 0, PS_CHAR_ADDR_32CHN = 0;
    uint32_t PS_CHAR_ADDR_64ASCII = 0, PS_CHAR_ADDR_64CHN = 0;
    uint32_t PS_CHAR_SIZE_32ASCII = 0, PS_CHAR_SIZE_32CHN = 0;
    uint32_t PS_CHAR_SIZE_64ASCII = 0, PS_CHAR_SIZE_64CHN = 0;

    // ---- chip model: per window (index = enabled-window slot) ----
    int32_t PM_INPUT[WIN_NUM] = {};               // chip input port, -1 or 6 = none
    int32_t PM_INPUT_OFFSET_EN[WIN_NUM] = {};
    int32_t PM_INPUT_OFFSET[WIN_NUM][4] = {};     // crop margins left, right, top, bottom
    int32_t PM_WIN_SHAPE[WIN_NUM][2] = {};        // tiles across, down
    int32_t PM_WIN_OFFSET[WIN_NUM][4] = {};
    int32_t PM_WIN_DBD_MODE[WIN_NUM] = {};
    int32_t PM_WIN_FADE_EN[WIN_NUM] = {};
    int32_t PM_WIN_FADE_IN[WIN_NUM] = {};
    int32_t PM_WIN_FADE_OUT[WIN_NUM] = {};
    int32_t PM_WIN_STITCHING[WIN_NUM] = {};
    int32_t PM_OVERLAY_PRI[WIN_NUM] = {};
    int32_t PM_IACTHST[WIN_NUM] = {};
    int32_t PM_IACTVST[WIN_NUM] = {};
    int32_t PM_MEM_WMODE[WIN_NUM] = {};
    // per output channel
    int32_t PM_WIN_NUM[OCH_NUM] = {};             // 6 = none
    int32_t PM_WIN_NUM_prev[OCH_NUM] = {};
    int32_t PM_AREA_NUM[OCH_NUM] = {};            // 8 = none
    int32_t PM_OVERLAY[OCH_NUM] = {};             // tile position shown + 1
    uint8_t och_owner[OCH_NUM] = {};
    uint8_t och_duplicate[OCH_NUM] = {};
    // per input port: noise reduction and deinterlacer
    int32_t PM_HNR[PORT_NUM] = {}, PM_VNR[PORT_NUM] = {}, PM_TNR[PORT_NUM] = {};
    int32_t PM_BNR[PORT_NUM] = {}, PM_MNR[PORT_NUM] = {};
    int32_t PM_COMB[PORT_NUM] = {}, PM_DIAG[PORT_NUM] = {}, PM_MVFLT[PORT_NUM] = {};
    int32_t PM_IPEN[PORT_NUM] = {}, PM_22PD[PORT_NUM] = {}, PM_23PD[PORT_NUM] = {};
    int32_t PM_22PDSQTH[PORT_NUM] = {}, PM_23PDSQTH[PORT_NUM] = {}, PM_24SF[PORT_NUM] = {};

    // ---- chip model: per input port ----
    ST_HDMI_INFO PI_HDMI_INFO[PORT_NUM] = {};
    ST_PORT_INFO PI_PORT_INFO[PORT_NUM] = {};
    int32_t PI_STATE[PORT_NUM] = {};
    int32_t PI_UPDATE[PORT_NUM] = {};
    ST_ACT PI_ACT[PORT_NUM] = {};
    ST_ACT PI_ACT_FULL[PORT_NUM] = {};            // never halved
    double PI_FPICLK[PORT_NUM] = {}, PI_FH[PORT_NUM] = {}, PI_FV[PORT_NUM] = {};
    int32_t PI_IFH[PORT_NUM] = {}, PI_IFV[PORT_NUM] = {};
    int32_t PI_SCAN_MODE[PORT_NUM] = {};
    int32_t PI_SYNC_POL[PORT_NUM] = {};
    int32_t PI_HTOTAL[PORT_NUM] = {}, PI_VTOTAL[PORT_NUM] = {};
    int32_t g_chg_hdmi[PORT_NUM] = {};

    // ---- window set ----
    // The panel record, the chip thread's own while a pass rebuilds it.
    ST_PANEL gPanel = {};
    // Its one-pair flag as the links see it (a remote read of an FPGA's
    // parameter page halves the word at 116 while it is 1): published with
    // the panel values written back into the image, under the image's lock.
    uint8_t published_use1och();
    ST_MWIN gMwin = {0, nullptr};
    ST_RECT gMwinRect[WIN_NUM] = {};              // storage behind gMwin.pwin
    ST_WIN_INFO gWininfo[WIN_NUM] = {};
    // Slot of each image window in gWininfo, -1 when it has none (disabled,
    // or the fallback set is in use). Built with the window model.
    int32_t win_slot[WIN_NUM] = {-1, -1, -1, -1, -1, -1};
    uint8_t win_hmirror[WIN_NUM] = {}, win_vmirror[WIN_NUM] = {};
    uint8_t win_out_update[WIN_NUM] = {};
    // Layout directory: ten entries, counts 1, 2, 3, 3, 4, 4, 5, 5, 6, 6.
    ST_MWIN layout_dir[10] = {};
    ST_RECT layout_rects[10][WIN_NUM] = {};

    // ---- window output sequence requests and tables ----
    int32_t g_chg_win[WIN_NUM] = {};
    int32_t g_chg_input[WIN_NUM] = {};
    int32_t g_chg_dbd[WIN_NUM] = {};
    int32_t g_chg_attr[WIN_NUM] = {};
    int32_t g_chg_overlay = 0;
    int32_t g_chg_stitching = 0;
    // Update level of a window (0..3), raised by the input polling; see
    // raise_window_update for how a level maps onto the requests above.
    int32_t win_update_level[WIN_NUM] = {};
    // Frame buffers of each window: entries 0 to 3 the four its input
    // channels write in turn, entry 4 the spare (3-bit indices). Turned only
    // by the hold of the picture (set_freeze).
    uint8_t win_buf_idx[WIN_NUM][5] = {};
    uint8_t win_frozen[WIN_NUM] = {};             // 1 while set_freeze holds the window
    // Output-read marker (0 for a vertically zoomed window under output
    // interface mode 2) and wide marker (1 when such a window is also wider
    // than that interface takes) of the last pass.
    uint8_t och_mark[WIN_NUM] = {};
    uint8_t win_wide[WIN_NUM] = {};
    int32_t ich_owner[ICH_NUM] = {};              // window owning input channel k, -1 free
    int32_t win_ich[WIN_NUM][ICH_NUM] = {};       // channels of a window, -1 terminated
    int32_t win_ich_prev[WIN_NUM][ICH_NUM] = {};
    ST_ICH_OUT ich_out[7] = {};
    ST_WIN_OUT win_out[WIN_NUM] = {};
    int32_t pattern_on = 0;                       // pattern generator showing
    int32_t pattern_number = 0;                   // the pattern it shows (0: none)
    // Longest wait for the LED geometry hand-shake, milliseconds.
    unsigned led_para_wait_ms;

    // ---- bring-up model (chip model loading) ----
    void load_system_param();
    void define_param();
    void load_param();
    // The provisional per-window and per-channel table load_param copies in
    // (kept with the other chosen defaults, videoproc/c331_defaults.cpp).
    static const int32_t parameters_txt[c331_defaults::PT_COUNT];
    void zemApi_initEnvC331();
    void zemApi_initEnvC331Default();
    void write_initial_setting(int fd, int full);
    void set_rtct(int fd, int mode);

    // Maps an update level onto the window's output requests.
    void raise_window_update(int win, int level);
    // Whether window slot w shows chip port p.
    bool window_shows_port(int w, int p);

    // ---- LED panel ----
    void zemApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice);
    void zemApi_PnlInitOch3();
    int zemApi_PnlInitOch_diff(int *htt, int *vtt, int hblank, int vblank, int width, int height);
    void zemApi_WriteRam(int offset);
    void zemApi_c331InitRegPanel();
    // Admissible output timing: the first (HTT, VTT) pair of the timing table
    // with HTT >= htt and VTT >= vtt replaces the two; false when none does.
    static bool find_timing(int &htt, int &vtt);
    // Diagnostics, used on no running path.
    void c331_outputTimmingCtrlReg(int po1, int po2);
    void c331_calc_PixelCLK();
    void zemApi_SetOutBkg();
    // ---- layout ----
    void zemApi_MultiWinInit();
    void zemApi_MultiWinGet(ST_MWIN *out);
    void zemApi_MultiWinChAlloc(char init);
    void zemApi_MultiWinChOverlay();
    void zemApi_MultiWinChInit();
    // ---- layers and fades ----
    // Output channels of each window (ascending, -1 = none), and of each
    // layer mixer in stacking order, bottom first.
    int32_t win_ochs[WIN_NUM][OCH_NUM] = {};
    int32_t g_och_layer[OCH_NUM][OCH_NUM] = {};
    int32_t g_och_layer_cnt[OCH_NUM] = {};
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int page);
    void set_layer_coef(int fd, int win, int cnt, int dir);
    // ---- window output sequence, crop, output modes ----
    // Re-programs every window that has a change (g_chg_win, g_chg_input,
    // g_chg_dbd; g_chg_attr for the output side) under a held picture, or
    // fading the one window that changes its source, and clears the requests.
    void set_output(int fd);
    // Capture width 0 on unused input channels (mode 0), output width 0 on
    // unused output channels (1), both (2).
    void reset_act(int fd, int mode);
    // 1: holds the picture of every changed window; 0: releases all windows.
    void set_freeze(int fd, int on);
    // Waits, bounded, for the next frame of output channel och (0..7).
    void wait1_povs(int fd, int och);
    void get_och(int win, int32_t *list);
    // Stops (bit 1 of `on` set) or restarts the writer of the window's first
    // input channel: the user's freeze.
    void win_freeze_sel(int fd, int win, int on);
    int32_t zemApi_CropGetOffset(int port, ST_RECT *rect, int side);
    // Margins of every window cropping `port` for the port's present size.
    void zemApi_updateCrop(int port);
    // Width (hw) and height (vw) of the picture a crop of `port` is taken
    // from; zero for a port that does not exist.
    ST_ACT crop_source_size(int port) const;
    // X, Y, W, H of entry `idx` (below 40) of the image's crop table.
    ST_RECT crop_table_rect(uint32_t idx) const;
    // Five ring entries as the input buffer-index register takes them.
    static uint32_t ring_indices(const uint8_t *ring);
    // PM_WIN_DBD_MODE value of an image dot-by-dot mode word.
    static int32_t dbd_mode_of(int word);
    // The image window shown in model slot `slot`, -1 when none, and a word
    // of its record (0 for a slot that shows no image window).
    int image_window(int slot) const;
    uint16_t window_word(int slot, uint32_t field) const;
    // ---- window rectangles and scaling ----
    // Which source pixels a window uses, and where they go inside its block
    // of output areas. Pure computations over the model: no register traffic.
    _ImageWindowDef_st IWIN[WIN_NUM] = {};
    _ImageWindowDef_st OWIN[WIN_NUM] = {};
    // Second dot-by-dot flag of a window: set, a one-to-one window is cut on
    // its input side only. 0 for every window at start.
    int32_t PM_WIN_DBD_OPT[WIN_NUM] = {};
    void calc_iwin2(int w);
    void calc_owin2(int w);
    void calc_oact(_ImageWindowDef_st owin, _ImageWindowDef2_St *areas, int w);
    void calc_scaling(_ImageWindowDef_st in, _ImageWindowDef_st out, _ScalingSt *s);
    int check_stitching_win(int32_t *w, int32_t *partner);
    int32_t zemApi_OchGetWinOffset1(ST_WIN_INFO *win, int side);
    static bool is_port(int p) { return p >= 0 && p < PORT_NUM; }
    // A port's picture in a dot-by-dot mosaic: its full-width active
    // rectangle; all zero for a port that does not exist.
    ST_ACT dbd_rect(int port) const;
    // ---- display windows and scaler filter tables ----
    void set_display_window_ich(int fd, _ImageWindowDef_st iwin, _ImageWindowDef_st owin, int w);
    void set_display_window_ich_dbd(int fd, int w, int mode);
    // The channel programming of a dot-by-dot window once its memory is set
    // up (the second half of set_display_window_ich_dbd).
    void set_dbd_channels(int fd, int w, int mode);
    // Capture rectangles of the channels of a dot-by-dot window; their
    // number, 0 when the mode is no mosaic.
    int dbd_captures(int w, int mode, IchCapture *caps) const;
    static IchCapture capture_of(const ST_ACT &D, bool half);
    void set_display_window_och(int fd, _ImageWindowDef_st in, _ImageWindowDef_st owin, int w);
    void set_oscwct(int fd, int och);
    void set_lut_vzoom_4sym(int fd, int ratio, int och);
    void set_lut_hshrnk(int fd, int ratio, int ich, int dual);
    void set_lut_vshrnk(int fd, int ratio, int ich);
    void set_lut_hzoom(int fd, int unused, int och);
    void set_lut_vshrnk_4sym(int fd, int ratio, int ich, int dual);
    void set_iscwct(int fd, int win);
    // Four-tap vertical shrink filters, one row per ratio band (row 0 unused).
    static const int32_t lut[10][24];
    // Pair mode the input side last gave each input channel (0 single).
    int32_t ich_pair_mode[ICH_NUM] = {};
    // Memory packing of a window (PM_MEM_WMODE): bytes that n pixels take,
    // and the value of the channel packing registers.
    static int64_t packed_size(int mode, int64_t n);
    static uint8_t packing_value(int mode);
    // Number of input channels in a window's list (up to the first -1).
    int ich_count(int w) const;
    void c331_SetWinPriority(int win, int pri);
    void c331_SetWinPriority1(int fd);
    void c331_SetInputsourceCrop(int win, int crop_word);
    void c331_SetCrop(uint8_t win, uint8_t enable, ST_RECT *rect);
    void c331_SetWinAttr(uint8_t win, int word);
    void c331_SetWinOutput(int fd, uint8_t win, int word);
    void c331_SetWinDbdMode(int fd, uint8_t win, int word);
    // ---- inputs ----
    void load_hdmi();
    void check_port_valid(int fd);
    void check_input_port(int fd);
    void c331_SetInputsource(int win, int source);
    int zemApi_inputCvtC331(int source);
    int zemApi_GetPortDevId(int port);
    int zemApi_GetWinDbdMultiPort(int win, int *list);
    int zemApi_IsWinValid(int w);
    void set_pict(int fd, int datamode, int p);
    void set_sypol(int fd, int is_vbo, int i);
    void set_VBOInput(int fd, int k);
    void set_VBORXfrange(int fd, int k, float clock, int toggle);
    // Holds the input measurement unit while measurements, flags and field
    // counters are read, or releases it.
    void measure_hold(int fd, bool hold);
    // Re-arms V-by-One receiver k (0 or 1) with a lane mask.
    void vbo_rx_rearm(int fd, int k, uint8_t lane_mask);
    // Steps of check_input_port: a port's new timing, a port without signal
    // (`already`: it had none before), the lock of V-by-One receiver k.
    void port_update(int fd, int p);
    void port_lost(int fd, int p, bool already);
    bool vbo_locked(int fd, int k);
    // The port's signal word (bit 7 watched by check_port_valid, bit 0 no
    // signal), under Utils::_check_nosig_mutex.
    uint32_t PI_NOSIG[PORT_NUM] = {};
    // The running loop checks the inputs every INPUT_POLL_MS, and at once when
    // the receivers' records changed (inputs_changed). A source is measured
    // within 1 to 3 frames of 25 to 60 Hz video, sooner than a source settles
    // after its cable is plugged, while the input monitoring of both threads
    // costs 40 wake-ups a second.
    static constexpr unsigned INPUT_POLL_MS = 50;
    unsigned input_poll_ms = INPUT_POLL_MS;   // tests lengthen it
    std::chrono::steady_clock::time_point last_input_check{};
    std::atomic<bool> inputs_changed_request{false};
    // True when the inputs are to be checked now (the period has passed or
    // the records changed); the check is then counted as done.
    bool input_check_due();
    // ---- input channel allocation ----
    int check_ich_all(int win);
    int check_ich(int interlaced, int pair);
    int adjust_ich(int interlaced, int pair, int win);
    int set_input(int win, int port);
    void reset_ich(int win);
    void set_ichsel(int fd, int win);
    void set_idual(int fd, int ich, int on, int port);
    // A window is available when both words of its shape are set.
    bool win_available(int w) const;
    // ---- dot-by-dot memory and input waits ----
    static constexpr int DBD_BLOCKS = 6;
    int32_t dbd_block[DBD_BLOCKS] = {-1, -1, -1, -1, -1, -1};   // -1 free, 1 used
    // Blocks each window holds, -1 = none.
    int32_t win_dbd_block[WIN_NUM][4] = {{-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1},
                                         {-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1}};
    // A dot-by-dot window's five frame buffers and their line pitch (in the
    // dot-by-dot area the picture width in units of 320 pixels, in a
    // channel's own memory the chip's line pitch), as set_dbd_mem sets them
    // up; the window's input and output channels use them.
    uint32_t dbd_mem_addr[WIN_NUM][5] = {};
    int32_t dbd_pitch[WIN_NUM] = {};
    void reset_dbd_mem(int win);
    int check_dbd_input(int port);
    int set_dbd_mem(int fd, int win);
    void wait1_pivs(int fd, int ich);
    void wait1_pivs2(int fd);
    int wait_ifld_change(int fd, int port);
    int wait_ofld_change(int fd, int och);
    int find_dbd_run(int count, bool up) const;
    int32_t dbd_width(int win, int32_t mode) const;
    // Waits for the field in bits shift+1..shift of field register i to change.
    int wait_field_change(int fd, int i, int shift, int reads);
    // ---- picture ----
    void c331_SetBrightness(uint16_t value);
    void c331_SetContrast(uint16_t value);
    void c331_SetSharpness(uint16_t value);
    void c331_SetSaturation(uint16_t value);
    void c331_SetColorTemp(uint32_t word);
    void zemApi_forceColorDisable(int fd);
    // Output channels drawing window slot w (the first och_HCnt x och_VCnt
    // entries of its ochLst that name a channel); their count.
    int win_och_list(int w, int *list) const;
    // ---- noise reduction and deinterlacer ----
    // Last noise-reduction enable written by set_mct per HDMI port, -1 = none yet.
    int32_t nren_old[CMOS_NUM] = {-1, -1, -1, -1};
    void set_ip(int fd, int ich);
    void set_mct(int fd, int win, int refresh);
    void set_nr(int fd, int ich, int port);
    void set_nr_block(int fd, int ich, int port);
    void set_nr_tpx(int fd, int ich, int port);
    void set_nr_hvpx(int fd, int ich, int port);
    void set_nr_mosq(int fd, int ich, int port);
    void set_nr_b_480i(int fd, int ich, int port);
    void set_nr_b_480p(int fd, int ich, int port);
    void set_nr_b_720p(int fd, int ich, int port);
    void set_nr_b_1080i(int fd, int ich, int port);
    void set_nr_b_1080p(int fd, int ich, int port);
    void set_mvflt(int fd, int ich, int port);
    void set_diag(int fd, int ich, int port);
    void set_ipregs(int fd, int ich, int port);
    void set_comb(int fd, int ich, int port);
    // A port number outside 0..5 (a window without input) reads as no signal.
    int32_t port_state(int port) const;
    bool port_interlaced(int port) const;
    bool port_nosignal(int port) const;
    // Whether any noise-reduction level of the port is on.
    bool port_nr_on(int port) const;
    // ---- patterns ----
    uint8_t pattern_och_mask = 0;                 // output channels a pattern was written on
    int c331_SetPattern(int n);
    int zemApi_IsPatternGen();
    void set_input_bkg(int fd, int port, int on);
    void set_input_bkg2(int fd, int win, int on);
    std::vector<int> pattern_channels() const;
    void write_background(int fd, int w, uint32_t state);
    void pattern_follow_layout();
    void settle_pattern_byte(uint8_t seen);
    // ---- test and debug sequences ----
    void c331_debugEnv();
    void input_slidebar(int fd);
    void output_slidebar(int fd);
    void disable_slidebar(int fd);
    void vbyone_rx_ch1_seq(int fd);
    void vbyone_rx_ch2_seq(int fd);
    void read_c331_b174bug(int fd);
    void write_read_c331_b80_iacthstch5(int fd);
    void sync_c331_device_test_input(int fd);
    void sync_c331_device_test_frame_lock(int fd);
    void sync_c331_device_test_frame_lock_vbyrx2(int fd);
    void sync_c331_device_test_frame_lock_vbyrx3(int fd);
    void sync_c331_device_frame_lock_vbyrx2(int fd, int vtotal);
    // ---- OSD ----
    // The on-screen display the chip lays over the LED output: a model of
    // what is shown, where, in which font and colours, and the text lines
    // with their placement. zemApi_OsdSet and zemApi_OsdSetUnicode change
    // the model only and raise a request; the chip thread serves it after
    // its locked section: the refresh programs the OSD windows and
    // scrolling again, the rebuild redraws the OSD memory first. Chip
    // thread only.
    static constexpr int OSD_LINES = 64;
    static constexpr int OSD_LINE_CHARS = 128;
    // Largest OSD area the memory engine is given (its size registers).
    static constexpr int OSD_MAX_SIZE = 8191;
    int32_t PM_OSD_EN = 0, PM_OSD_HZOOM_EN = 0, PM_OSD_VZOOM_EN = 0, PM_OSD_DATA_MODE = 0;
    int32_t PM_OSD_UPDATE_BUTTON = 0, PM_OSD_SCROLL_MODE = 0, PM_OSD_SCROLL_SPEED = 0;
    int32_t PM_OSD_CHAR_64DOT = 0, PM_OSD_CHAR_DOUBLE = 0;
    int32_t PM_OSD_INPUT_OFFSET[4] = {};          // margins cut from the OSD memory: left, right, top, bottom
    int32_t PM_OSD_OUTPUT_OFFSET[4] = {};         // margins of the OSD window on the wall
    int32_t g_osd_layer = 0;                      // 1 = below the video
    int32_t g_osd_h_alignment_tarix = 0;          // 0 left, 1 centre, 2 right, 3 justify
    int32_t g_osd_v_alignment_value_tarix = 0;    // pixels added to every line's y
    // Text: 64 lines of 128 UTF-16 units, high byte first; lines in use.
    uint8_t g_unicode_str[OSD_LINES][2 * OSD_LINE_CHARS] = {};
    int32_t g_unicode_line = 0;
    // Per line: start x, spacing between characters and its remainder
    // (justify), full-width, half-width and all characters.
    int32_t g_osd_max_line_x_tarix[OSD_LINES] = {};
    int32_t g_osd_hmargin_tarix[OSD_LINES] = {};
    int32_t g_osd_hmargin_rem_tarix[OSD_LINES] = {};
    int32_t g_osd_full_cnt_tarix[OSD_LINES] = {};
    int32_t g_osd_half_cnt_tarix[OSD_LINES] = {};
    int32_t g_osd_char_cnt_tarix[OSD_LINES] = {};
    uint8_t osd_refresh_request = 0;
    uint8_t osd_rebuild_request = 0;
    // Line pitch of the OSD areas: g_osd_mwi x 128 bytes, x 512 with the shift.
    int32_t g_osd_mwi = 0, g_osd_mwi_shift = 0;
    // The OSD window on the wall after clipping, and its pieces per output
    // column (hst, hw) and row (vst, vw) with the first and last marked.
    _ImageWindowDef_st OSD_WIN = {};
    _ImageWindowDef2_St osd_tiles[OCH_NUM] = {};
    // A recalled user mode's OSD menu copy, shown at the next menu reload
    // (guarded by the image's lock, ParaLock).
    std::string osd_menu_copy;

    // Advance of a half-width (en) and a full-width (cn) character and the
    // displayed pixels per OSD-memory pixel, by font and zoom.
    struct OsdCharSize {
        int en, cn, scale;
    };
    OsdCharSize osd_char_size() const;
    // The OSD memory area as it is drawn, shown and scrolled: the character
    // area (PS_BG_HACT x PS_BG_VACT) or the bitmap, at most OSD_MAX_SIZE
    // either way and no taller than the chip memory between PS_MEM_OSD and
    // the fonts holds together with the second area's 2 x 2 tiling.
    struct OsdArea {
        int w, h;
    };
    OsdArea osd_area() const;
    OsdArea osd_area(bool chars) const;
    // The part of the area the OSD windows show: the area less the input
    // margins, where a right or bottom margin below 0 counts as 0 (the
    // windows never read past the area). Negative when nothing is shown.
    OsdArea osd_visible() const;
    // Where the second area lies for the area drawn last: at PS_MEM_OSD1, or
    // right behind an area too large for the room up to PS_MEM_OSD1.
    uint32_t osd_second_area() const;
    int zemApi_OsdSet(int item, int value);
    int zemApi_OsdSetUnicode(int lines, const int *lengths, const uint32_t (*text)[OSD_LINE_CHARS]);
    void set_OSD_para(const OMENU_PARA &para);
    // A user mode was just recalled into the image: when it shows the OSD and
    // keeps a menu copy, the next menu reload shows that copy (true then).
    // Called by the writer with ParaLock held, before it raises the request.
    bool recall_osd_menu(int slot);
    void calc_osd(_ImageWindowDef2_St *tiles);
    void set_osd(int fd, int which);
    void set_scroll(int fd);
    void update_osd(int fd);
    // Memory engine commands; false when the engine did not finish in time.
    bool osd_paint(int fd, int x, int w, int y, int h, int value, uint32_t area);
    bool osd_copy(int fd, uint32_t src, uint32_t dst, int w, int h, int packed);
    bool osd_put_unicode_string(int fd, const uint8_t *line, int x, int y, int fg, int bg, int w, int h,
                                uint32_t area, int dot64);
    bool osd_put_unicode_string_1char_tarix(int fd, const uint8_t *line, int start, int count, int x, int y, int fg,
                                            int bg, int w, int h, uint32_t area, int dot64);
    bool gen_char(int fd);
    void set_char_color(int fd);
    void load_char();
    void load_bmp();
    void load_unicode_char();
    // Per-area switches of the chip code's diagnostics: an area prints while
    // g_debugSwitch is 254 and bit 7 of its entry is set (6 the serial flash,
    // off; 7 the input checks; 8 the OSD items). Built in; nothing writes it.
    static constexpr uint8_t prnEn[9] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x80, 0x80};
    static constexpr int PRN_SFL = 6;
    // ---- serial flash and fonts ----
    // The chip's serial flash (32 MiB, reached through the controller of
    // register bank 4): read into host memory, program (the range must be
    // erased), erase `count` blocks of 4 KiB (mode 0), 32 KiB (1) or 64 KiB
    // (other) from 4 KiB unit `unit`, and DMA from flash into chip memory
    // (target 0, destination a memory address), the character list (1, a
    // list pointer) or the palette (4, the first palette index). Each sets
    // the controller up from scratch and runs on the caller's thread under
    // bank4_mutex. Result SFL_OK, or SFL_TIMEOUT when the controller did not
    // finish (a read then leaves zeros in the buffer).
    static constexpr uint32_t SFL_SIZE = 0x2000000;
    static constexpr int SFL_OK = 0;
    static constexpr int SFL_TIMEOUT = 1;
    int read_flash(int fd, uint32_t address, uint32_t length, uint8_t *buffer);
    int write_flash(int fd, uint32_t address, uint32_t length, const uint8_t *buffer);
    int erase_flash(int fd, uint32_t unit, uint32_t count, int mode);
    int osd_write_dma_sfl(int fd, uint32_t address, uint32_t destination, uint8_t target, uint32_t length);
    // Serialises everything that drives bank 4: the serial-flash controller
    // and the memory and drawing engines. Recursive, so that a sequence (a
    // font reload, an OSD rebuild) holds it across the operations it calls.
    // Lock order: manage_mutex, then this, then the register locks.
    std::recursive_mutex bank4_mutex;

    // OSD fonts: the flash addresses and sizes of the four fonts' glyphs
    // (PS_CHAR_ADDR_*, PS_CHAR_SIZE_*), which load_char resets.
    void load_font_map();
    // Checks the four font headers: font_present_bits and byte 6 of the
    // status page.
    void read_c331_font(int fd);
    // Copies the four fonts back to back into chip memory from PS_FONT_ADDR.
    void update_font(int fd);
    // Prints the 32-dot glyph of a code point (diagnostic).
    void zemApi_debug_printf_unicode(uint32_t code, int fd);
    // Bit 0 32-dot CJK, 1 32-dot ASCII, 2 64-dot CJK, 3 64-dot ASCII: header valid.
    std::atomic<int> font_present_bits{0};
    // Where each font was loaded in chip memory. A font reload on a link's
    // thread sets them while the chip thread's dump prints them.
    std::atomic<uint32_t> g_font_addr_32ASCII{0}, g_font_addr_32CHN{0};
    std::atomic<uint32_t> g_font_addr_64ASCII{0}, g_font_addr_64CHN{0};
    // ---- register dumps ----
    void zemDbg_c331_param(int mode);
    void zemDbg_c331_param();
    void zemDbg_c331_print_regGrp(int grp);
    // Full register listing; runs on the caller's thread without manage_mutex,
    // reading bank 4 under bank4_mutex.
    void c331_print();
    // Registers of the full listing as descriptors, sorted by bank, then
    // sub-address: the banks the program uses from sub-address 0x08 to 0x7F
    // (without the data ports), then the clock generator's 0x00 to 0x05.
    static const std::vector<uint32_t> &c331_register_list();
    // Where the dumps go: standard output (a person in the field reads them
    // there); tests capture them.
    FILE *dump_out = stdout;

    // ---- the parameter image as the chip code reads it ----
    // The image and its snapshot as the running section of the chip thread
    // (an apply pass, a bring-up step, the re-programming after an input
    // change) copied them when it began; the store's live image when no
    // section runs (a caller of its own, holding what it needs).
    const uint8_t *para_image() const;
    const uint8_t *para_snapshot() const;

    // ---- call log of the area setters ----
    void set_call_recording(bool on);
    std::vector<c331_call> calls() const;
    void clear_calls();
    void note_call(const char *format, ...) __attribute__((format(printf, 2, 3)));

private:
    // Steps of set_output.
    bool has_change(int w) const;
    void take_input_channels();
    int fade_window() const;
    uint8_t program_input_side(int fd);
    void set_read_markers(int w, bool programmed);
    void program_output_side(int fd);
    void keep_user_freezes(int fd, uint8_t programmed);
    void consume_port_updates(uint8_t programmed);
    void freeze_hold(int fd);
    void freeze_release(int fd);
    // Waits for the next output frame of channel och (bounded); false when
    // the chip did not report it in time.
    bool wait_och_frame(int fd, int och);
    void bringup_probe();
    void bringup_setup();
    void bringup_panel();
    void bringup_picture();
    // What an apply pass takes from the links together with the image: the
    // debug registers 162 to 165 (taken from the register file) and which
    // inputs were sent a new EDID table.
    struct PassRequests {
        uint8_t reg162 = 0, reg163 = 0, reg164 = 0, reg165 = 0;
        uint8_t edid_new_table[PORT_NUM] = {};
    };
    uint8_t apply_pass();
    uint8_t begin_apply(PassRequests &requests);
    void end_apply();
    void take_debug_registers(PassRequests &requests);
    void apply_panel();
    void apply_test_pattern();
    void apply_picture();
    bool apply_windows();
    void apply_crop_edits();
    void apply_window_source(int win, uint16_t source);
    uint8_t kept_freeze(uint32_t i, uint16_t out, uint8_t applied, uint8_t source);
    void apply_edid(const PassRequests &requests);
    void apply_debug_registers(const PassRequests &requests);
    void poll_inputs();
    void reprogram_changed_inputs();
    void reload_osd_menu();
    bool show_osd_menu_copy(const std::string &copy);
    // OSD: items with a computation of their own, the text of a menu, the
    // drawing steps of a rebuild.
    void osd_fit_source_width(int value);
    void osd_align_lines(int mode);
    void osd_align_vertical(int mode);
    void load_osd_text(const std::string &text);
    void set_osd_font_size(int fontw, int fonth);
    uint32_t osd_pitch() const;
    void set_osd_pitch(int w);
    int osd_max_lines(uint32_t pitch) const;
    bool osd_engine_run(int fd, uint8_t command);
    bool draw_osd_text(int fd, int w, int h);
    bool draw_osd_bitmap(int fd, int w, int h);
    bool tile_osd1(int fd, int w, int h);
    bool draw_osd_line(int fd, int line, int x, int y);
    bool draw_osd_justified(int fd, int line, int x, int y);
    void wait_led_para_idle();
    uint32_t packed_color_temp() const;
    void lock_manage();
    void unlock_manage();
    // A section's copy of the image: taken under the image's lock (the
    // caller holds ImageLock for the _locked form, and names the snapshot to
    // compare against), and let go.
    void copy_para();
    void copy_para_locked(const uint8_t *snapshot);
    void release_para();
    // Words of the image and the snapshot as the section sees them.
    uint16_t image_word(uint32_t off) const { return para::get16(para_image(), off); }
    uint16_t snapshot_word(uint32_t off) const { return para::get16(para_snapshot(), off); }
    bool word_changed(uint32_t off) const { return image_word(off) != snapshot_word(off); }
    // Values the chip derives for the image (the panel's layout): into the
    // store's image under its lock, and into the section's copy.
    void write_back(std::initializer_list<std::pair<uint32_t, uint16_t>> words);
    uint8_t m_published_use1och = 0;   // guarded by the image's lock (ParaLock)

    uint8_t m_para[para::IMAGE_SIZE] = {};
    uint8_t m_para_back[para::IMAGE_SIZE] = {};
    bool m_para_copied = false;
    // The image the last pass applied: the next pass compares against it
    // until the notification of that pass has moved the store's snapshot.
    uint8_t m_applied[para::IMAGE_SIZE] = {};

    std::atomic<bool> m_initialized{false};
    bool m_thread_running = false;
    thread_wake m_wake;
    std::atomic<bool> m_holds_manage{false};
    std::atomic<bool> m_recording{false};
    mutable std::mutex m_calls_mutex;
    std::vector<c331_call> m_calls;
};

#endif
