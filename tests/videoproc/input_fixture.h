#ifndef TESTS_VIDEOPROC_INPUT_FIXTURE_H
#define TESTS_VIDEOPROC_INPUT_FIXTURE_H

#include "setter_fixture.h"

#include "app/utils.h"
#include "platform/i2c.h"
#include "platform/sim_inputs.h"
#include "videoio/drv_i2c.h"
#include "videoio/tarixsource.h"

#include <mutex>
#include <string>

namespace chiptest {

// A chip manager with its model loaded, the simulated board's sources and
// the input manager's receivers: the input side end to end, turn by turn.
class InputTest : public SetterTest
{
protected:
    void SetUp() override
    {
        SetterTest::SetUp();
        g_force_bkcolor = 2;   // as after bring-up
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
        // Nothing plugged: the first run's sources out.
        for (int i = 0; i < platform::sim::inputs::COUNT; ++i)
            platform::sim::inputs::plug(i, platform::sim::inputs::Source{});
        src->check_source_turn();
    }
    void TearDown() override
    {
        platform::i2c::sim::reset();
        SetterTest::TearDown();
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

    tarixsource *src = nullptr;
};

} // namespace chiptest

#endif
