// The chip manager singleton, its thread and the chip's bring-up.

#include "videoproc/c331_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/para_layout.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_defaults.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

c331_manage *c331_manage::p_c331_manage = nullptr;

namespace {
std::mutex g_instance_mutex;
constexpr size_t CALL_LOG_LIMIT = 100000;

// A raised apply request, and a changed receiver record, wake the program's
// chip thread.
void wake_chip()
{
    if (c331_manage *m = c331_manage::p_c331_manage)
        m->wake();
}

void chip_inputs_changed()
{
    if (c331_manage *m = c331_manage::p_c331_manage)
        m->inputs_changed();
}
}

c331_manage::c331_manage()
{
    font_present_bits = 0;
    for (ST_ICH_OUT &r : ich_out)
        r.och[0] = 0;
    setup_state = 0;
    led_para_wait_ms = c331_defaults::LED_PARA_WAIT_MS;
    pthread_mutex_init(&manage_mutex, nullptr);
    c331drv = new c331_drv();
    for (ST_WIN_OUT &r : win_out)
        r.last = 1;
    // No input has been seen yet.
    for (ST_HDMI_INFO &h : PI_HDMI_INFO)
        h.nosignal = 1;
    // Layout directory: window counts of the ten layouts.
    static const int counts[10] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};
    for (int k = 0; k < 10; ++k) {
        layout_dir[k].count = counts[k];
        layout_dir[k].pwin = layout_rects[k];
    }
}

c331_manage::~c331_manage()
{
    stop_thread();
    delete c331drv;
    pthread_mutex_destroy(&manage_mutex);
}

// The instance lock guards only the creation of the object. It is taken
// while the image's lock may be held (a writer recalling a user mode's OSD
// menu), so nothing may take that lock, or any other, while holding it.
c331_manage *c331_manage::instance()
{
    std::lock_guard<std::mutex> lock(g_instance_mutex);
    if (!p_c331_manage)
        p_c331_manage = new c331_manage();
    return p_c331_manage;
}

c331_manage *c331_manage::pInstance()
{
    c331_manage *m = instance();
    if (m->m_initialized.exchange(true))
        return m;
    m->take_loaded_image();
    m->pattern_on = 0;
    m->initialize();
    return m;
}

// The chip is brought up from the image as loaded: the first pass programs
// what changed since. Later passes compare against what the pass before
// applied, not against the store's snapshot, which the register commands
// move on as they act.
void c331_manage::take_loaded_image()
{
    ParaLock lock;
    para_changed = 0;
    std::memcpy(m_applied, ZemRamPara::pInstance()->ram_para_back, sizeof m_applied);
}

int c331_manage::initialize()
{
    debugPrint("\n======c331_manage::initialize()===== ");
    c331_fd = c331drv->initialize();
    uint32_t id = c331drv->read_C331(c331_fd, C331_ID_REG, 0);
    debugPrint("\n c331_id = %02x \n", id);
    m_wake.reset();
    // Other threads reach the program's chip thread through these.
    para_lock::set_request_hook(&wake_chip);
    tarixsource::inputs_changed_hook = &chip_inputs_changed;
    if (pthread_create(&manage_thread, nullptr, c331manageThread, this) != 0) {
        debugPrint("\n c331_manage: cannot create the chip thread \n");
        return 255;
    }
    Utils::name_thread(manage_thread, "chip");
    m_thread_running = true;
    return 0;
}

void c331_manage::stop_thread()
{
    if (!m_thread_running)
        return;
    m_wake.stop();
    pthread_join(manage_thread, nullptr);
    m_thread_running = false;
}

void *c331_manage::c331manageThread(void *obj)
{
    if (!obj)
        return nullptr;
    c331_manage *m = static_cast<c331_manage *>(obj);
    for (;;) {
        const int before = m->setup_state;
        m->run_turn();
        if (!m->m_wake.wait_until(m->next_turn(before)))
            break;
    }
    return nullptr;
}

std::chrono::steady_clock::time_point c331_manage::next_turn(int state_before) const
{
    using clock = std::chrono::steady_clock;
    const int state = setup_state;
    if (state != state_before)
        return clock::now();
    if (state < 8)
        return clock::now() + std::chrono::milliseconds(PROBE_RETRY_MS);
    if (pattern_on)
        return thread_wake::never();
    return last_input_check + std::chrono::milliseconds(input_poll_ms);
}

void c331_manage::inputs_changed()
{
    inputs_changed_request = true;
    m_wake.notify();
}

void c331_manage::run_turn()
{
    switch (setup_state.load()) {
    case 0: case 1: case 2: case 3: case 4:
        bringup_probe();
        break;
    case 5:
        bringup_setup();
        break;
    case 6:
        bringup_panel();
        break;
    case 7:
        bringup_picture();
        break;
    default:
        c331managerdeal(this);
        break;
    }
}

void c331_manage::lock_manage()
{
    pthread_mutex_lock(&manage_mutex);
    m_holds_manage = true;
}

void c331_manage::unlock_manage()
{
    m_holds_manage = false;
    pthread_mutex_unlock(&manage_mutex);
}

// States 0..4: five identity reads of 0x24 in all; other answers do not count.
void c331_manage::bringup_probe()
{
    uint32_t id = c331drv->read_C331(c331_fd, C331_ID_REG, 0);
    if (id == C331_ID_VALUE) {
        debugPrint("\n ok c331_id = 0x24x ");
        setup_state = setup_state + 1;
    } else {
        debugPrint("\n error c331_id = %02x \n", id);
    }
}

void c331_manage::bringup_setup()
{
    load_system_param();
    define_param();
    c331drv->init_reg_acc_param();
    write_initial_setting(c331_fd, 1);
    set_rtct(c331_fd, 1);
    load_param();
    check_input_port(c331_fd);
    load_char();
    read_c331_font(c331_fd);
    update_font(c331_fd);
    debugPrint("\n ok c331_id  setup= %d \n", 6);
    setup_state = 6;
}

void c331_manage::bringup_panel()
{
    lock_manage();
    copy_para();
    zemApi_PnlInit2(image_word(para::LED_WIDTH), image_word(para::LED_HEIGHT), image_word(para::OUT1_WIDTH),
                    image_word(para::OUT1_HEIGHT), image_word(para::LED_SPLICE));
    set_output(c331_fd);
    release_para();
    unlock_manage();
    debugPrint("\n ok c331_id  setup= %d \n", 7);
    setup_state = 7;
}

void c331_manage::bringup_picture()
{
    copy_para();
    c331_SetBrightness(50);
    c331_SetContrast(image_word(para::CONTRAST));
    c331_SetSharpness(image_word(para::SHARPNESS));
    c331_SetColorTemp(packed_color_temp());
    c331_SetSaturation(image_word(para::SATURATION));
    c331_debugEnv();
    setup_state = 8;
    zemApi_forceColorDisable(c331_fd);
    if (image_word(para::OSD_FLAG) == 1) {
        zemApi_OsdSet(0, 1);
        g_osd_update = 0;
        reload_osd_menu();
    } else {
        debugPrint("\n no osd file ");
    }
    release_para();
}

// Colour temperature as one word: red, green, blue gains and the mode.
uint32_t c331_manage::packed_color_temp() const
{
    return uint32_t(image_word(para::RED_GAIN) & 0xFF) << 24 | uint32_t(image_word(para::GREEN_GAIN) & 0xFF) << 16 |
           uint32_t(image_word(para::BLUE_GAIN) & 0xFF) << 8 | uint32_t(image_word(para::COLOR_TEMP) & 0xFF);
}

// ---- call log ----

void c331_manage::set_call_recording(bool on) { m_recording = on; }

std::vector<c331_call> c331_manage::calls() const
{
    std::lock_guard<std::mutex> lock(m_calls_mutex);
    return m_calls;
}

void c331_manage::clear_calls()
{
    std::lock_guard<std::mutex> lock(m_calls_mutex);
    m_calls.clear();
}

void c331_manage::note_call(const char *format, ...)
{
    if (!m_recording)
        return;
    char text[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    std::lock_guard<std::mutex> lock(m_calls_mutex);
    if (m_calls.size() >= CALL_LOG_LIMIT)
        m_calls.erase(m_calls.begin(), m_calls.begin() + CALL_LOG_LIMIT / 2);
    m_calls.push_back(c331_call{text, m_holds_manage.load()});
}
