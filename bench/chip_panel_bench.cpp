// On the simulated chip without bus timing, the time and the SPI frames of:
//   - PanelSetUpSixWindows: one LED panel set-up with the output-channel
//     allocation of six windows;
//   - SixWindowsReprogrammed: one output pass that programs all six windows
//     again (their input and output channels, layers and the held picture),
//     as after a new layout.

#include "chip_bench_fixture.h"

#include "app/para_layout.h"

#include <benchmark/benchmark.h>

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
    BenchChip b;
    sixWindows(b.store);
    uint64_t frames = 0;
    for (auto _ : state) {
        const uint64_t before = b.chip->mark();
        b.m.zemApi_PnlInit2(7680, 2160, 7680, 2160, 0);
        frames += b.chip->mark() - before;
        b.dump.clear();
    }
    if (b.m.gMwin.count != 6)
        state.SkipWithError("the six windows were not taken");
    state.counters["spi_frames"] = benchmark::Counter(double(frames) / double(state.iterations()));
}

void BM_SixWindowsReprogrammed(benchmark::State &state)
{
    BenchChip b;
    sixWindows(b.store);
    b.sources1080p();
    b.m.zemApi_PnlInit2(7680, 2160, 7680, 2160, 0);
    b.m.set_output(b.m.c331_fd);
    uint64_t frames = 0;
    for (auto _ : state) {
        for (int w = 0; w < c331_manage::WIN_NUM; ++w)
            b.m.g_chg_win[w] = 1;
        const uint64_t before = b.chip->mark();
        b.m.set_output(b.m.c331_fd);
        frames += b.chip->mark() - before;
    }
    if (b.m.gMwin.count != 6 || b.m.win_ich[5][0] < 0)
        state.SkipWithError("the six windows were not programmed");
    state.counters["spi_frames"] = benchmark::Counter(double(frames) / double(state.iterations()));
}

} // namespace

BENCHMARK(BM_PanelSetUpSixWindows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SixWindowsReprogrammed)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
