#ifndef TESTS_VIDEOPROC_WINDOW_FIXTURE_H
#define TESTS_VIDEOPROC_WINDOW_FIXTURE_H

#include "chip_fixture.h"

#include "app/global.h"

namespace chiptest {

// A chip manager with its start-up model (not brought up) on a fresh
// simulated chip, for the window programming routines; output areas of
// 1920 x 1080.
class WindowTest : public ChipTest
{
protected:
    void SetUp() override
    {
        ChipTest::SetUp();
        g_debugSwitch = 0;
        m.reset(new c331_manage());
        m->c331_fd = m->c331drv->initialize();
        m->load_system_param();
        m->define_param();
        m->PS_ACTHW = 1920;
        m->PS_ACTVW = 1080;
        m->set_call_recording(true);
        fd = m->c331_fd;
    }
    void TearDown() override
    {
        m.reset();
        ChipTest::TearDown();
    }

    // A port with a signal: active rectangle as the window pipeline sees it
    // and the same unhalved.
    void port(int p, int hst, int hw, int vst, int vw, int state = 4)
    {
        m->PI_ACT[p] = ST_ACT{hst, hw, vst, vw};
        m->PI_ACT_FULL[p] = ST_ACT{hst, hw, vst, vw};
        m->PI_STATE[p] = state;
    }
    void channels(int w, std::initializer_list<int> list)
    {
        int k = 0;
        for (int ch : list)
            m->win_ich[w][k++] = ch;
        while (k < c331_manage::ICH_NUM)
            m->win_ich[w][k++] = -1;
    }
    // Value of a chip register of channel `ch` (16 banks per channel).
    uint32_t reg(uint32_t descriptor, int ch = 0) const { return chip->value(descriptor, 16 * ch); }

    std::unique_ptr<c331_manage> m;
    int fd = -1;
};

} // namespace chiptest

#endif
