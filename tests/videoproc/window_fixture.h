#ifndef TESTS_VIDEOPROC_WINDOW_FIXTURE_H
#define TESTS_VIDEOPROC_WINDOW_FIXTURE_H

#include "setter_fixture.h"

namespace chiptest {

// The window programming routines on output areas of 1920 x 1080.
class WindowTest : public SetterTest
{
protected:
    void SetUp() override
    {
        SetterTest::SetUp();
        m->PS_ACTHW = 1920;
        m->PS_ACTVW = 1080;
        fd = m->c331_fd;
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
    uint32_t reg(uint32_t descriptor, int ch = 0) const { return onChannel(descriptor, ch); }

    int fd = -1;
};

} // namespace chiptest

#endif
