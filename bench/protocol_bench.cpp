// Un-escape, check and dispatch of RAM reads as a link processes them.

#include "app/zemrampara.h"
#include "platform/platform.h"
#include "platform/timing.h"
#include "protocol/frame_link.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <vector>

namespace {

std::vector<uint8_t> readFrame(uint16_t len)
{
    std::vector<uint8_t> b = {0x01, 0xF1, 0x10, 0xF0, 7, 0, 0, 0, 0, 0x61,
                              0x00, 0x01, 0x00, 0x00, uint8_t(len), uint8_t(len >> 8), 0, 0};
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    b.push_back(x);
    std::vector<uint8_t> w = {0xA5};
    w.insert(w.end(), b.begin(), b.end());
    w.push_back(0x5A);
    return w;
}

void BM_RamRead(benchmark::State &state)
{
    static bool ready = [] {
        char tmpl[] = "/tmp/zembench-XXXXXX";
        platform::configure(platform::Mode::Sim, mkdtemp(tmpl));
        platform::ensureDataDirs();   // the store writes its file there (a failure would print)
        platform::setPausesEnabled(false);
        ZemRamPara::pInstance();
        return true;
    }();
    (void)ready;
    frame_link link{frame_link::Config{}};
    std::vector<uint8_t> wire = readFrame(uint16_t(state.range(0)));
    std::vector<uint8_t> reply;
    for (auto _ : state) {
        auto r = link.process(wire.data(), uint32_t(wire.size()), reply);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(reply.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(BM_RamRead)->Arg(4)->Arg(1024);
BENCHMARK_MAIN();
