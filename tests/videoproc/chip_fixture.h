#ifndef TESTS_VIDEOPROC_CHIP_FIXTURE_H
#define TESTS_VIDEOPROC_CHIP_FIXTURE_H

#include "support/temp_root.h"

#include "app/para_layout.h"
#include "app/zemrampara.h"
#include "app/global.h"
#include "app/utils.h"
#include "platform/i2c.h"
#include "platform/sim_c331.h"
#include "platform/sim_inputs.h"
#include "platform/spi.h"
#include "videoio/drv_i2c.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace chiptest {

using platform::sim::SimC331;

// A private root with a fresh simulated chip and a fresh parameter store.
class ChipTest : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        platform::spi::sim::detachAll();
        chip = std::make_shared<SimC331>();
        platform::spi::sim::attach(c331_drv::DEVICE, chip);
        ZemRamPara::resetForTest();
        store = ZemRamPara::pInstance();
        std::memcpy(store->ram_para_back, store->ram_para, para::IMAGE_SIZE);
    }
    void TearDown() override { platform::spi::sim::detachAll(); }

    void setWord(uint32_t off, uint16_t v) { para::set16(store->ram_para, off, v); }
    void syncSnapshot() { std::memcpy(store->ram_para_back, store->ram_para, para::IMAGE_SIZE); }

    std::shared_ptr<SimC331> chip;
    ZemRamPara *store = nullptr;
};

// Names of recorded calls (text up to the bracket).
inline std::vector<std::string> texts(const c331_manage &m)
{
    std::vector<std::string> out;
    for (const c331_call &c : m.calls())
        out.push_back(c.text);
    return out;
}

inline bool has(const std::vector<std::string> &v, const std::string &s)
{
    return std::find(v.begin(), v.end(), s) != v.end();
}

inline std::vector<std::string> without_polling(const std::vector<std::string> &v)
{
    static const char *const polling[] = {"load_hdmi()", "check_port_valid()", "check_input_port()"};
    std::vector<std::string> out;
    for (const std::string &s : v)
        if (std::none_of(std::begin(polling), std::end(polling), [&](const char *p) { return s == p; }))
            out.push_back(s);
    return out;
}

// A chip manager with its model loaded, the simulated board's sources and
// the input manager's receivers: the input side end to end, turn by turn.
class InputTest : public ChipTest
{
protected:
    void SetUp() override
    {
        ChipTest::SetUp();
        g_debugSwitch = 0;
        m.reset(new c331_manage());
        m->c331_fd = m->c331drv->initialize();
        m->set_call_recording(true);
        m->load_system_param();
        m->define_param();
        for (int w = 0; w < c331_manage::WIN_NUM; ++w)
            m->PM_INPUT[w] = 6;
        platform::i2c::sim::reset();
        src = tarixsource::pInstance();
        src->stop();
        for (int p = 0; p < SOURCE_COUNT; ++p)
            src->edid_request[p] = 0;
        src->audio_request = 0;
        if (src->i2c_fd < 0)
            src->i2c_fd = Drv_I2C0::I2C_Open();
        src->source_enable = 0x3F;
        plug("0 none");
    }
    void TearDown() override
    {
        m.reset();
        platform::i2c::sim::reset();
        ChipTest::TearDown();
    }

    // Plugs a source as a line of the inputs file says, and lets the input
    // manager read the receivers.
    void plug(const std::string &line)
    {
        int input = 0;
        platform::sim::inputs::Source s;
        std::string error;
        ASSERT_TRUE(platform::sim::inputs::parseLine(line, input, s, error)) << error;
        platform::sim::inputs::plug(input, s);
        src->check_source_turn();
    }
    // Window w shows chip port p on output channels `och`.
    void show(int w, int p, std::initializer_list<int> och = {})
    {
        m->PM_INPUT[w] = p;
        m->gMwin.count = std::max(m->gMwin.count, w + 1);
        for (int c : och)
            m->PM_WIN_NUM[c] = w;
    }
    // One input check of the running loop.
    void turn()
    {
        m->load_hdmi();
        m->check_input_port(m->c331_fd);
    }
    hdminfo &record(int input) { return src->source_hdminfo[input]; }

    std::unique_ptr<c331_manage> m;
    tarixsource *src = nullptr;
};

inline bool waitFor(const std::function<bool()> &cond, int ms = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
}

} // namespace chiptest

#endif
