// One source change of one window (fade off) on the simulated chip with bus
// timing on: window 1 of two side by side alternates between two 1080p60
// ports. The pass's wall time is set against its bus-time floor: the SPI
// frames it sends at their bus time and driver cost. The simulated output
// and input frames come at once, so none of the waits the pass prescribes
// adds to the floor. Counters: spi_frames, floor_us, ratio (wall / floor;
// goal at most 1.2).

#include "chip_bench_fixture.h"

#include "app/para_layout.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

constexpr uint32_t DRIVER_NS = 20000;

// Bus time of one 2-byte frame: 16 bits at the clock of its direction, plus
// the driver's cost of a transfer.
constexpr uint64_t frameNs(uint32_t hz) { return 16ull * 1000000000ull / hz + DRIVER_NS; }

uint64_t floorNs(const std::vector<platform::sim::SimC331::Frame> &frames)
{
    uint64_t ns = 0;
    for (const auto &f : frames)
        ns += frameNs(f.write ? c331_drv::WRITE_HZ : c331_drv::READ_HZ);
    return ns;
}

void window(ZemRamPara *store, uint32_t i, uint16_t x, uint16_t source)
{
    store->setWord(para::window(i, para::WIN_ENABLE), 1);
    store->setWord(para::window(i, para::WIN_SOURCE), source);
    store->setWord(para::window(i, para::WIN_X), x);
    store->setWord(para::window(i, para::WIN_Y), 0);
    store->setWord(para::window(i, para::WIN_W), 1920);
    store->setWord(para::window(i, para::WIN_H), 1080);
    store->setWord(para::window(i, para::WIN_FLAGS), 0);
}

void BM_OneWindowNewSource(benchmark::State &state)
{
    BenchChip b;
    for (uint32_t i = 2; i < para::WINDOW_COUNT; ++i)
        b.store->setWord(para::window(i, para::WIN_ENABLE), 0);
    window(b.store, 0, 0, 0);
    window(b.store, 1, 1920, 1);
    b.sources1080p();
    b.m.zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    b.m.set_output(b.m.c331_fd);

    platform::spi::sim::setBusTiming(true, DRIVER_NS);
    uint64_t frames = 0, floor = 0, wall = 0;
    int source = 1;
    for (auto _ : state) {
        source = source == 1 ? 2 : 1;
        const uint64_t before = b.chip->mark();
        const auto t0 = std::chrono::steady_clock::now();
        b.m.c331_SetInputsource(1, source);
        const auto took = std::chrono::steady_clock::now() - t0;
        wall += uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
        state.PauseTiming();
        const auto sent = b.chip->framesSince(before);
        frames += sent.size();
        floor += floorNs(sent);
        state.ResumeTiming();
    }
    platform::spi::sim::setBusTiming(false);
    if (b.m.win_ich[1][0] < 0)
        state.SkipWithError("window 1 was not programmed");
    const double n = double(state.iterations());
    state.counters["spi_frames"] = benchmark::Counter(double(frames) / n);
    state.counters["floor_us"] = benchmark::Counter(double(floor) / n / 1000.0);
    state.counters["ratio"] = benchmark::Counter(floor ? double(wall) / double(floor) : 0.0);
}

} // namespace

BENCHMARK(BM_OneWindowNewSource)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
