// On the simulated chip without bus timing, the time and the SPI frames of:
//   - PanelSetUpSixWindows: one LED panel set-up with the output-channel
//     allocation of six windows;
//   - SixWindowsReprogrammed: one output pass that programs all six windows
//     again (their input and output channels, layers and the held picture),
//     as after a new layout.

#include "app/global.h"
#include "app/para_layout.h"
#include "app/zemrampara.h"
#include "platform/sim_c331.h"
#include "platform/spi.h"
#include "support/dump_capture.h"
#include "support/temp_root.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

// Six windows of 2560 x 1080 in three columns and two rows over a 7680 x
// 2160 wall: two channel pairs, four channels across, windows spanning two.
void sixWindows(ZemRamPara *store)
{
    for (uint32_t i = 0; i < 6; ++i) {
        store->setWord(para::window(i, para::WIN_ENABLE), 1);
        store->setWord(para::window(i, para::WIN_X), uint16_t(2560 * (i % 3)));
        store->setWord(para::window(i, para::WIN_Y), uint16_t(1080 * (i / 3)));
        store->setWord(para::window(i, para::WIN_W), 2560);
        store->setWord(para::window(i, para::WIN_H), 1080);
        store->setWord(para::window(i, para::WIN_SOURCE), uint16_t(i));
        store->setWord(para::LAYER_PRIORITY + 2 * i, uint16_t(i));
    }
}

void BM_PanelSetUpSixWindows(benchmark::State &state)
{
    zemtest::TempRoot root;
    g_debugSwitch = 0;   // the set-up itself, not its debug prints
    auto chip = std::make_shared<platform::sim::SimC331>();
    platform::spi::sim::attach(c331_drv::DEVICE, chip);
    ZemRamPara *store = ZemRamPara::pInstance();
    sixWindows(store);
    zemtest::DumpCapture dump;
    c331_manage m;
    m.c331_fd = m.c331drv->initialize();
    m.dump_out = dump.file();
    m.load_system_param();
    m.define_param();
    m.load_param();

    uint64_t frames = 0;
    for (auto _ : state) {
        const uint64_t before = chip->mark();
        m.zemApi_PnlInit2(7680, 2160, 7680, 2160, 0);
        frames += chip->mark() - before;
        dump.clear();
    }
    if (m.gMwin.count != 6)
        state.SkipWithError("the six windows were not taken");
    state.counters["spi_frames"] = benchmark::Counter(double(frames) / double(state.iterations()));
    platform::spi::sim::detachAll();
}

// Every chip port with a 1080p60 source.
void sixSources(c331_manage &m)
{
    for (int p = 0; p < c331_manage::PORT_NUM; ++p) {
        m.PI_ACT[p] = m.PI_ACT_FULL[p] = ST_ACT{192, 1920, 41, 1080};
        m.PI_STATE[p] = 4;
        m.PI_FV[p] = 60;
        m.PI_PORT_INFO[p].NOSIG = 0;
        m.PI_HDMI_INFO[p].lane = 2;
    }
}

void BM_SixWindowsReprogrammed(benchmark::State &state)
{
    zemtest::TempRoot root;
    g_debugSwitch = 0;
    auto chip = std::make_shared<platform::sim::SimC331>();
    platform::spi::sim::attach(c331_drv::DEVICE, chip);
    ZemRamPara *store = ZemRamPara::pInstance();
    sixWindows(store);
    zemtest::DumpCapture dump;
    c331_manage m;
    m.c331_fd = m.c331drv->initialize();
    m.dump_out = dump.file();
    m.load_system_param();
    m.define_param();
    m.load_param();
    sixSources(m);
    m.zemApi_PnlInit2(7680, 2160, 7680, 2160, 0);
    m.set_output(m.c331_fd);

    uint64_t frames = 0;
    for (auto _ : state) {
        for (int w = 0; w < c331_manage::WIN_NUM; ++w)
            m.g_chg_win[w] = 1;
        const uint64_t before = chip->mark();
        m.set_output(m.c331_fd);
        frames += chip->mark() - before;
    }
    if (m.gMwin.count != 6 || m.win_ich[5][0] < 0)
        state.SkipWithError("the six windows were not programmed");
    state.counters["spi_frames"] = benchmark::Counter(double(frames) / double(state.iterations()));
    platform::spi::sim::detachAll();
}

} // namespace

BENCHMARK(BM_PanelSetUpSixWindows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SixWindowsReprogrammed)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
