// One LED panel set-up of the chip, with the output-channel allocation of
// six windows, on the simulated chip without bus timing: the time a set-up
// takes and the SPI frames it sends.

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

} // namespace

BENCHMARK(BM_PanelSetUpSixWindows)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
