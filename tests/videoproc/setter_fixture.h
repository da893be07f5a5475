#ifndef TESTS_VIDEOPROC_SETTER_FIXTURE_H
#define TESTS_VIDEOPROC_SETTER_FIXTURE_H

// A chip manager with its model at the start-up values, talking to a fresh
// simulated chip, for tests of single setters (no thread, no bring-up).

#include "chip_fixture.h"

#include "app/global.h"

#include <initializer_list>

namespace chiptest {

class SetterTest : public ChipTest
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
        m->set_call_recording(true);
    }
    void TearDown() override
    {
        m.reset();
        ChipTest::TearDown();
    }

    // Window slot w shows chip port `port` on the given output channels,
    // `across` of them side by side.
    void showWindow(int w, int port, std::initializer_list<uint8_t> och, uint8_t across)
    {
        ST_WIN_INFO &wi = m->gWininfo[w];
        std::fill(std::begin(wi.ochLst), std::end(wi.ochLst), 0xFF);
        std::copy(och.begin(), och.end(), wi.ochLst);
        wi.och_HCnt = across;
        wi.och_VCnt = static_cast<uint8_t>(och.size() / across);
        m->PM_INPUT[w] = port;
        m->gMwin.count = std::max(m->gMwin.count, w + 1);
    }

    // Value of a per-channel register on channel n.
    uint32_t onChannel(uint32_t descriptor, int n) const { return chip->value(descriptor, 16 * n); }

    std::unique_ptr<c331_manage> m;
};

} // namespace chiptest

#endif
