#ifndef TESTS_VIDEOPROC_CHIP_FIXTURE_H
#define TESTS_VIDEOPROC_CHIP_FIXTURE_H

#include "support/dump_capture.h"
#include "support/patience.h"
#include "support/temp_root.h"

#include "app/para_layout.h"
#include "app/zemrampara.h"
#include "platform/sim_c331.h"
#include "platform/spi.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

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
using zemtest::DumpCapture;

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

// A chip manager with the chip open and its model at the bring-up values,
// its dumps captured; nothing is programmed yet.
class ModelTest : public ChipTest
{
protected:
    void SetUp() override
    {
        ChipTest::SetUp();
        m.reset(new c331_manage());
        m->c331_fd = m->c331drv->initialize();
        m->dump_out = dump.file();
        m->load_system_param();
        m->define_param();
        m->load_param();
        for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i)
            setWord(para::window(i, para::WIN_ENABLE), 0);
    }
    void TearDown() override
    {
        m.reset();
        ChipTest::TearDown();
    }

    // Enables image window i with a rectangle, a source word and a layer.
    void window(uint32_t i, uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint16_t source = 0, uint16_t layer = 0)
    {
        setWord(para::window(i, para::WIN_ENABLE), 1);
        setWord(para::window(i, para::WIN_X), x);
        setWord(para::window(i, para::WIN_Y), y);
        setWord(para::window(i, para::WIN_W), w);
        setWord(para::window(i, para::WIN_H), h);
        setWord(para::window(i, para::WIN_SOURCE), source);
        setWord(para::LAYER_PRIORITY + 2 * i, layer);
    }

    // Output channels of window slot n, in area order.
    std::vector<int> channels(int n) const
    {
        const ST_WIN_INFO &wi = m->gWininfo[n];
        return std::vector<int>(wi.ochLst, wi.ochLst + wi.och_HCnt * wi.och_VCnt);
    }

    DumpCapture dump;
    std::unique_ptr<c331_manage> m;
};

// Makes `m` the program's chip manager while it lives, so that the helpers
// that reach the manager through the singleton (raise_apply_request, the
// source manager's inputs_changed) reach it.
class CurrentManager
{
public:
    explicit CurrentManager(c331_manage *m) : m_previous(c331_manage::p_c331_manage)
    {
        c331_manage::p_c331_manage = m;
    }
    ~CurrentManager() { c331_manage::p_c331_manage = m_previous; }
    CurrentManager(const CurrentManager &) = delete;
    CurrentManager &operator=(const CurrentManager &) = delete;

private:
    c331_manage *m_previous;
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

// Polls cond() until it holds or ms pass (scaled by the build's slowdown).
inline bool waitFor(const std::function<bool()> &cond, int ms = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + zemtest::patience(std::chrono::milliseconds(ms));
    while (std::chrono::steady_clock::now() < deadline) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
}

} // namespace chiptest

#endif
