// The running loop of the chip thread: the apply pass that programs what the
// parameter image changed, and the input and OSD polling.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/para_layout.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "sendcard/fpga_manage.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_defaults.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>

namespace {

// Offsets of the controller's debug registers in the register file.
constexpr int REG_165 = 33;
constexpr int REG_162 = 34;
constexpr int REG_163 = 35;
constexpr int REG_164 = 36;

ZemRamPara *store() { return ZemRamPara::pInstance(); }

int lowest_bit(uint8_t v, int bits)
{
    for (int b = 0; b < bits; ++b)
        if (v & (1u << b))
            return b;
    return -1;
}

} // namespace

// ---- the section's copy of the image ----

const uint8_t *c331_manage::para_image() const
{
    return m_para_copied ? m_para : store()->ram_para;
}

const uint8_t *c331_manage::para_snapshot() const
{
    return m_para_copied ? m_para_back : store()->ram_para_back;
}

void c331_manage::copy_para_locked(const uint8_t *snapshot)
{
    std::memcpy(m_para, store()->ram_para, sizeof m_para);
    std::memcpy(m_para_back, snapshot, sizeof m_para_back);
    m_para_copied = true;
}

void c331_manage::copy_para()
{
    ImageLock lock(store());
    copy_para_locked(store()->ram_para_back);
}

void c331_manage::release_para()
{
    m_para_copied = false;
}

void c331_manage::write_back(std::initializer_list<std::pair<uint32_t, uint16_t>> words)
{
    uint8_t *live = store()->ram_para;
    ParaLock lock;
    for (const auto &w : words) {
        para::set16(live, w.first, w.second);
        if (m_para_copied)
            para::set16(m_para, w.first, w.second);
    }
}

// ---- the running loop ----

void c331_manage::c331managerdeal(void *obj)
{
    c331_manage *m = static_cast<c331_manage *>(obj);
    m->lock_manage();
    const uint8_t code = m->apply_pass();
    m->unlock_manage();
    // The notification leaves after manage_mutex is released: it may wait,
    // for seconds, for a notification of the GUI thread that shows a notice.
    if (code)
        store()->test_signal(code);
    m->poll_inputs();
}

// Called with manage_mutex held. Applies a pending request and returns it
// (0 when none was pending): the caller sends it as the change notification
// once the lock is released. The pass works from the copy of the image that
// begin_apply took; writers change the store's image meanwhile.
uint8_t c331_manage::apply_pass()
{
    PassRequests requests;
    const uint8_t code = begin_apply(requests);
    if (!code)
        return 0;
    apply_panel();
    apply_picture();

    for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i) {
        const uint32_t off = para::layer_priority(i);
        if (!word_changed(off) || win_slot[i] < 0)
            continue;
        c331_SetWinPriority(win_slot[i], image_word(off));
        c331_SetWinPriority1(c331_fd);
    }

    if (!apply_windows())
        apply_crop_edits();

    for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i) {
        const int slot = win_slot[i];
        if (slot < 0)
            continue;
        if (word_changed(para::fade_in(i)))
            PM_WIN_FADE_IN[slot] = image_word(para::fade_in(i));
        if (word_changed(para::fade_out(i)))
            PM_WIN_FADE_OUT[slot] = image_word(para::fade_out(i));
    }

    // Against the pattern shown rather than the snapshot: a re-layout above
    // may have ended it.
    if (para_image()[para::TEST_PATTERN] != pattern_number)
        apply_test_pattern();

    apply_edid(requests);

    bool audio = false;
    for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i)
        audio = audio || word_changed(para::window(i, para::WIN_AUDIO));
    if (audio && tarixsource::p_tarix_source)
        tarixsource::p_tarix_source->request_audio();

    if (word_changed(para::LED_OFF) && fpga_manage::p_fpga_manage) {
        fpga_manage::p_fpga_manage->output_status_request = 1;
        fpga_manage::p_fpga_manage->wake();
    }

    if (word_changed(para::OSD_FLAG)) {
        uint16_t on = image_word(para::OSD_FLAG);
        zemApi_OsdSet(0, on);
        if (on)
            g_osd_update = 1;
    }

    if (g_osd_update == 1) {
        g_osd_update = 0;
        reload_osd_menu();
    }

    apply_debug_registers(requests);
    end_apply();
    return code;
}

// A pattern the chip refuses (it shows one on a single window only) is not
// on the wall: the pattern byte goes back to the pattern the wall still shows
// (or off), so that the panel and the PC tool read the truth and a later Off
// is sent.
void c331_manage::apply_test_pattern()
{
    const uint8_t n = para_image()[para::TEST_PATTERN];
    if (c331_SetPattern(n) != 0)
        settle_pattern_byte(n);
}

// Under the image's lock: the request, the copy of the image and the
// snapshot, and what the links asked of this pass besides. Changes written
// without a request are found now too.
uint8_t c331_manage::begin_apply(PassRequests &requests)
{
    ZemRamPara *rp = store();
    ImageLock lock(rp);
    const uint8_t code = para_lock::begin_pass();
    if (!code)
        return 0;
    // What the last pass applied is compared against: the store's snapshot
    // may hold words that a writer settled and the chip has not seen yet.
    copy_para_locked(m_applied);
    rp->pass_copied();
    take_debug_registers(requests);
    static_assert(std::size(edid_ram_table_new) == PORT_NUM, "one flag per input port");
    std::copy(std::begin(edid_ram_table_new), std::end(edid_ram_table_new), requests.edid_new_table);
    std::fill(std::begin(edid_ram_table_new), std::end(edid_ram_table_new), 0);
    return code;
}

// What the pass applied (its copy with what it wrote back) goes to the store
// for its snapshot.
void c331_manage::end_apply()
{
    std::memcpy(m_applied, m_para, sizeof m_applied);
    release_para();
    ParaLock lock;
    store()->pass_applied(m_applied);
    para_lock::end_pass();
}

// The debug registers are taken and cleared as the pass begins, so that one
// written while the pass runs is served by the next. Register 165 keeps a
// value none of whose bits 0 to 3 is set.
void c331_manage::take_debug_registers(PassRequests &requests)
{
    uint8_t *reg = store()->reg_para;
    requests.reg162 = std::exchange(reg[REG_162], 0);
    requests.reg163 = std::exchange(reg[REG_163], 0);
    requests.reg164 = std::exchange(reg[REG_164], 0);
    requests.reg165 = reg[REG_165];
    if (lowest_bit(reg[REG_165], 4) >= 0)
        reg[REG_165] = 0;
}

// Waits, bounded, while the FPGA thread applies a new LED geometry; the FPGA
// thread signals the end. It clears the hand-shake without manage_mutex,
// which is held here.
void c331_manage::wait_led_para_idle()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(led_para_wait_ms);
    std::unique_lock<std::mutex> lock(Utils::_led_para_init_mutex);
    if (!g_set_led_para_done.wait_until(lock, deadline, [] { return g_set_led_para != 1; }))
        debugPrint("\n c331: LED geometry hand-shake still busy, panel set up anyway \n");
}

void c331_manage::apply_panel()
{
    static const uint32_t words[5] = {para::LED_SPLICE, para::LED_WIDTH, para::LED_HEIGHT, para::OUT1_WIDTH,
                                      para::OUT1_HEIGHT};
    bool any = false;
    for (uint32_t off : words)
        any = any || word_changed(off);
    if (!any)
        return;
    wait_led_para_idle();
    zemApi_PnlInit2(image_word(para::LED_WIDTH), image_word(para::LED_HEIGHT), image_word(para::OUT1_WIDTH),
                    image_word(para::OUT1_HEIGHT), image_word(para::LED_SPLICE));
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = 2;
    }
    if (fpga_manage::p_fpga_manage)
        fpga_manage::p_fpga_manage->wake();
    if (image_word(para::OSD_FLAG) != 0)
        g_osd_update = 1;
}

void c331_manage::apply_picture()
{
    if (word_changed(para::BRIGHTNESS)) {
        // The chip stays at the neutral 50; the FPGAs apply the image's brightness.
        c331_SetBrightness(50);
        if (fpga_manage::p_fpga_manage) {
            {
                std::lock_guard<std::mutex> lock(Utils::_bri_set_mutex);
                fpga_manage::p_fpga_manage->bri_set_request = 1;
            }
            fpga_manage::p_fpga_manage->wake();
        }
    }
    if (word_changed(para::CONTRAST))
        c331_SetContrast(image_word(para::CONTRAST));
    if (word_changed(para::SHARPNESS))
        c331_SetSharpness(image_word(para::SHARPNESS));
    if (word_changed(para::SATURATION))
        c331_SetSaturation(image_word(para::SATURATION));
    if (word_changed(para::COLOR_TEMP) || word_changed(para::RED_GAIN) || word_changed(para::GREEN_GAIN) ||
        word_changed(para::BLUE_GAIN))
        c331_SetColorTemp(packed_color_temp());
}

// The window records are compared word by word. The setters index the model
// by enabled-window slot, so the image's window number is mapped to its slot;
// a window without a slot (disabled) is taken from the image at the next
// re-layout. True when the windows were laid out anew.
bool c331_manage::apply_windows()
{
    const uint32_t end = para::WINDOW_BASE + para::WINDOW_SIZE * para::WINDOW_COUNT;
    for (uint32_t off = para::WINDOW_BASE; off < end; off += 2) {
        if (!word_changed(off))
            continue;
        const int i = static_cast<int>((off - para::WINDOW_BASE) / para::WINDOW_SIZE);
        const uint32_t f = (off - para::WINDOW_BASE) % para::WINDOW_SIZE;
        const uint16_t v = image_word(off);
        const int slot = win_slot[i];
        switch (f) {
        case para::WIN_ENABLE:
        case para::WIN_X:
        case para::WIN_Y:
        case para::WIN_W:
        case para::WIN_H:
            zemApi_initEnvC331();
            zemApi_MultiWinChAlloc(1);
            zemApi_MultiWinChInit();
            set_output(c331_fd);
            return true;
        case para::WIN_MIRROR:
            if (slot >= 0)
                c331_SetWinAttr(static_cast<uint8_t>(slot), v);
            break;
        case para::WIN_SOURCE:
            apply_window_source(i, v);
            if (i == image_word(para::AUDIO_WINDOW) && tarixsource::p_tarix_source)
                tarixsource::p_tarix_source->request_audio();
            break;
        case para::WIN_FLAGS:
            if (slot >= 0)
                c331_SetWinOutput(c331_fd, static_cast<uint8_t>(slot), v);
            break;
        case para::WIN_P2P_MODE:
            if (slot >= 0)
                c331_SetWinDbdMode(c331_fd, static_cast<uint8_t>(slot), v);
            break;
        default:
            break;
        }
    }
    return false;
}

// A crop rectangle edited while a window shows the crop (the crop page, or
// the PC tool's RAM write) is applied like a new choice of that crop.
void c331_manage::apply_crop_edits()
{
    for (int i = 0; i < WIN_NUM; ++i) {
        const uint32_t off = para::window(static_cast<uint32_t>(i), para::WIN_SOURCE);
        const uint16_t s = image_word(off);
        if (!(s & para::WIN_SOURCE_CROP) || word_changed(off) || (s & 0xFF) >= para::CROP_ENTRIES)
            continue;
        const uint32_t rec = para::crop_record(s & 0xFF);
        bool edited = false;
        for (uint32_t k = 0; k < para::CROP_ENTRY_SIZE; k += 2)
            edited = edited || word_changed(rec + k);
        if (edited)
            apply_window_source(i, s);
    }
}

void c331_manage::apply_window_source(int win, uint16_t s)
{
    const int slot = win_slot[win];
    if (slot < 0)
        return;
    if (!(s & para::WIN_SOURCE_CROP)) {
        if (snapshot_word(para::window(win, para::WIN_SOURCE)) & para::WIN_SOURCE_CROP) {
            ST_RECT none{0, 0, 0, 0};
            c331_SetCrop(static_cast<uint8_t>(slot), 0, &none);
        }
        c331_SetInputsource(slot, s);
        return;
    }
    if ((s & 0xFF) >= para::CROP_ENTRIES) {
        // The index names no crop record: nothing is programmed.
        debugPrint("\n c331: window %d names crop %d, beyond the crop table \n", win, s & 0xFF);
        return;
    }
    ST_RECT r = crop_table_rect(s & 0xFF);
    c331_SetInputsourceCrop(slot, s);
    c331_SetCrop(static_cast<uint8_t>(slot), 1, &r);
    c331_SetInputsource(slot, para_image()[para::crop_record(s & 0xFF)] & 0x0F);
}

// Every port whose EDID words changed or that was sent a new table. A port
// that merely takes its EDID from a table is not rewritten by every pass (each
// rewrite re-asserts its hot-plug and blanks the source), and a second port
// changed in the same pass is not left out: once this pass is over, no later
// pass would find its change.
void c331_manage::apply_edid(const PassRequests &requests)
{
    for (uint32_t p = 0; p < para::INPUT_COUNT; ++p) {
        const uint32_t base = para::edid_record(p);
        if (!(word_changed(base) || word_changed(base + 2) || word_changed(base + 4) || requests.edid_new_table[p]))
            continue;
        if (tarixsource::p_tarix_source)
            tarixsource::p_tarix_source->request_edid(int(p));
    }
}

void c331_manage::apply_debug_registers(const PassRequests &requests)
{
    switch (lowest_bit(requests.reg162, 8)) {
    case 0: input_slidebar(c331_fd); break;
    case 1: output_slidebar(c331_fd); break;
    case 2: disable_slidebar(c331_fd); break;
    case 3: vbyone_rx_ch1_seq(c331_fd); break;
    case 4: vbyone_rx_ch2_seq(c331_fd); break;
    case 5: read_c331_b174bug(c331_fd); break;
    case 6: setup_state = 0; break;
    case 7: write_read_c331_b80_iacthstch5(c331_fd); break;
    default: break;
    }

    if (requests.reg163)
        zemDbg_c331_param(requests.reg163 - 1);

    if (requests.reg164 & 1)
        zemDbg_c331_print_regGrp(0);

    switch (lowest_bit(requests.reg165, 4)) {
    case 0: sync_c331_device_test_input(c331_fd); break;
    case 1: sync_c331_device_test_frame_lock(c331_fd); break;
    case 2: sync_c331_device_test_frame_lock_vbyrx2(c331_fd); break;
    case 3: sync_c331_device_test_frame_lock_vbyrx3(c331_fd); break;
    default: break;
    }
}

// Update levels, as the window output sequence understands them:
// 1 the window's attributes (mirror) are to be programmed again,
// 2 its layout (rectangles) is to be programmed again,
// 3 its input is to be programmed again (new port or new timing), which also
//   re-programs its rectangles and output side.
void c331_manage::raise_window_update(int win, int level)
{
    if (win < 0 || win >= WIN_NUM)
        return;
    win_update_level[win] = level;
    if (level >= 3)
        g_chg_input[win] = 1;
    else if (level == 2)
        g_chg_win[win] = 1;
    else if (level == 1)
        g_chg_attr[win] = 1;
}

bool c331_manage::window_shows_port(int w, int p)
{
    int list[6];
    if (zemApi_GetWinDbdMultiPort(w, list)) {
        for (int k = 0; k < 6; ++k)
            if (list[k] == p)
                return true;
        return false;
    }
    return PM_INPUT[w] == p;
}

// The input checks follow a crop when its input's timing changes: they read
// the crop records from one copy of the image, taken for the turn.
void c331_manage::poll_inputs()
{
    if (zemApi_IsPatternGen())
        return;
    copy_para();
    const bool inputs = input_check_due();
    if (inputs) {
        load_hdmi();
        check_port_valid(c331_fd);
    }
    if (osd_rebuild_request) {
        update_osd(c331_fd);
        osd_rebuild_request = 0;
    } else if (osd_refresh_request) {
        set_osd(c331_fd, 1);
        set_scroll(c331_fd);
        osd_refresh_request = 0;
    }
    if (inputs)
        check_input_port(c331_fd);
    reprogram_changed_inputs();
    release_para();
}

// Windows whose input changed are programmed again, under manage_mutex.
void c331_manage::reprogram_changed_inputs()
{
    for (int p = 0; p < PORT_NUM; ++p) {
        if (!PI_UPDATE[p] && !g_chg_hdmi[p])
            continue;
        lock_manage();
        for (int w = 0; w < WIN_NUM; ++w) {
            if (!window_shows_port(w, p))
                continue;
            debugPrint("\n [c331_main]PI_UPDATE[%d]=%d   g_chg_hdmi[%d]=%d   PI_ACT  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n",
                       p, PI_UPDATE[p], p, g_chg_hdmi[p], PI_ACT[p].hst, PI_ACT[p].hw, PI_ACT[p].vst,
                       PI_ACT[p].vw);
            raise_window_update(w, 3);
            set_output(c331_fd);
            g_c331_source_online = 1;
        }
        unlock_manage();
        PI_UPDATE[p] = 0;
        g_chg_hdmi[p] = 0;
    }
}
