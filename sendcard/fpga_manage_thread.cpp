// The FPGA thread of the sending-card manager and the requests it serves.

#include "sendcard/fpga_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "sendcard/fpga_drv.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace {

constexpr uint8_t REG_SCREEN_STATUS = 3;   // 0 screen held while the geometry changes, 5 showing
constexpr uint8_t REG_BRIGHTNESS = 4;      // 0..255
constexpr uint8_t REG_OUTPUT = 5;          // bit 0: 1 = the LED wall shows the picture
constexpr uint8_t REG_STATE = 80;          // 3 = configured and running
constexpr uint8_t REG_PORT_LINK = 128;     // bit p: output port p has a link
constexpr uint8_t STATE_RUNNING = 3;
constexpr uint8_t SCREEN_HOLD = 0;
constexpr uint8_t SCREEN_SHOW = 5;

} // namespace

// Register 80 lies in the shadow-only range of read_from_register; the
// thread reads it from the FPGA itself.
void fpga_manage::refresh_state(uint8_t n)
{
    set_reg_shadow(n, REG_STATE, fpga_drv::read_reg(n & 1, REG_STATE));
}

int fpga_manage::initialize_start()
{
    // Soft initialisation: learn the FPGAs' state and card information.
    for (uint8_t n = 0; n < 2; ++n)
        refresh_state(n);
    for (uint8_t r = 28; r <= 31; ++r)
        read_from_register(r, 0);

    std::lock_guard<std::mutex> lock(m_thread_mutex);
    if (m_thread_started)
        return 0;
    m_wake.reset();
    if (pthread_create(&m_thread, nullptr, &fpga_manage::fpgamanageThread, this) != 0) {
        writeLogMsg(1, "fpgamanageThread create error");
        return 255;
    }
    Utils::name_thread(m_thread, "fpga");
    m_thread_started = true;
    return 0;
}

void *fpga_manage::fpgamanageThread(void *arg)
{
    auto *self = static_cast<fpga_manage *>(arg);
    do
        self->fpga_manage_turn();
    while (self->m_wake.wait_until(self->next_turn()));
    return nullptr;
}

void fpga_manage::stop_thread()
{
    std::lock_guard<std::mutex> lock(m_thread_mutex);
    if (!m_thread_started)
        return;
    m_wake.stop();
    pthread_join(m_thread, nullptr);
    m_thread_started = false;
}

std::chrono::steady_clock::time_point fpga_manage::next_turn()
{
    uint32_t ticks = IDLE_TURN_MS / TICK_MS;
    auto within = [&ticks](uint32_t stamp, uint32_t due) {
        const uint32_t passed = Utils::getTimeSpace(stamp);
        ticks = std::min(ticks, passed < due ? due - passed : 1u);
    };
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        if (g_set_led_para == 1 && g_set_led_setup == 1)
            within(led_para_tick, LED_STEP1_TICKS);
        else if (g_set_led_para == 1 && g_set_led_setup >= 2)
            within(led_para_tick, LED_STEP2_TICKS);
    }
    for (uint8_t n = 0; n < 2; ++n)
        if (reset_pending[n])
            within(reset_tick[n], RESET_TICKS + 1);
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ticks * TICK_MS);
}

void fpga_manage::fpga_manage_turn()
{
    set_led_para_deal();
    check_fpga_rst();
    // An FPGA back from reset is asked for its state until it runs.
    for (uint8_t n = 0; n < 2; ++n) {
        if (!reset_pending[n] && reg_shadow(n, REG_STATE) != STATE_RUNNING)
            refresh_state(n);
    }
    check_port_links();
    bool bri;
    {
        std::lock_guard<std::mutex> lock(Utils::_bri_set_mutex);
        bri = bri_set_request.load() == 1;
    }
    if (bri && set_fpga_bri_val()) {
        std::lock_guard<std::mutex> lock(Utils::_bri_set_mutex);
        bri_set_request = 0;
    }
    if (output_status_request.load() == 1 && set_output_status())
        output_status_request = 0;
}

void fpga_manage::check_port_links()
{
    uint8_t links = 0;
    for (uint8_t n = 0; n < 2; ++n) {
        if (reset_pending[n] || reg_shadow(n, REG_STATE) != STATE_RUNNING)
            continue;
        links |= uint8_t((fpga_drv::read_reg(n, REG_PORT_LINK) & 0x03) << (2 * n));
    }
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (port_link_state.exchange(links) != links && store)
        store->test_signal(11);
}

void fpga_manage::set_led_para_deal()
{
    enum { NONE, HOLD, SHOW, DONE, RESET } action = NONE;
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        if (g_set_led_para == 2) {
            g_set_led_para = 0;
            g_set_led_setup = 0;
            action = RESET;
        } else if (g_set_led_para == 1) {
            uint32_t now = G_timeTicks.load();
            if (g_set_led_setup == 0) {
                action = HOLD;
                g_set_led_setup = 1;
                led_para_tick = now;
            } else if (g_set_led_setup == 1 && Utils::getTimeSpace(led_para_tick) >= LED_STEP1_TICKS) {
                action = SHOW;
                g_set_led_setup = 2;
                led_para_tick = now;
            } else if (g_set_led_setup >= 2 && Utils::getTimeSpace(led_para_tick) >= LED_STEP2_TICKS) {
                action = DONE;
                g_set_led_para = 0;
                g_set_led_setup = 0;
            }
        }
    }
    switch (action) {
    case HOLD:
    case SHOW: {
        uint8_t v = action == HOLD ? SCREEN_HOLD : SCREEN_SHOW;
        ScreenState = v;
        for (uint8_t n = 0; n < 2; ++n)
            write_to_register(REG_SCREEN_STATUS, 0xFF, v, n);
        break;
    }
    case DONE:
        g_set_led_para_done.notify_all();   // the chip thread may be waiting to set the panel up
        break;
    case RESET:
        reset_fpga_rst(0);
        reset_fpga_rst(1);
        break;
    case NONE:
        break;
    }
}

int fpga_manage::set_fpga_bri_val()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return 0;
    uint32_t percent = store->locked_word(para::BRIGHTNESS);
    if (percent > 100)
        percent = 100;
    uint8_t value = static_cast<uint8_t>((percent * 255 + 50) / 100);
    int ok = 1;
    for (uint8_t n = 0; n < 2; ++n) {
        if (reset_pending[n] || fpga_drv::read_reg(n, REG_STATE) != STATE_RUNNING) {
            ok = 0;   // an FPGA in reset or not configured takes nothing
            continue;
        }
        write_to_register(REG_BRIGHTNESS, 0xFF, value, n);
        if (fpga_drv::read_reg(n, REG_BRIGHTNESS) != value)
            ok = 0;
    }
    if (ok)
        store->test_signal(1);
    return ok;
}

int fpga_manage::set_output_status()
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return 0;
    uint8_t on = store->locked_word(para::LED_OFF) == 1 ? 0 : 1;
    int ok = 1;
    for (uint8_t n = 0; n < 2; ++n) {
        if (reset_pending[n] || fpga_drv::read_reg(n, REG_STATE) != STATE_RUNNING) {
            ok = 0;
            continue;
        }
        write_to_register(REG_OUTPUT, 0x01, on, n);
        if ((fpga_drv::read_reg(n, REG_OUTPUT) & 0x01) != on)
            ok = 0;
    }
    // The wall's new output state is a changed setting, as a new brightness is.
    if (ok)
        store->test_signal(1);
    return ok;
}
