// The chip's serial flash in simulation: programming throughput through the
// controller (without and with the bus time of each register transfer), and
// the load of the four OSD fonts (13.5 MB of DMA into chip memory; the target
// is under 0.5 s).

#include "platform/platform.h"
#include "platform/sim_c331.h"
#include "platform/spi.h"
#include "platform/timing.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct Bench {
    std::shared_ptr<platform::sim::SimC331> chip;
    std::unique_ptr<c331_manage> manager;
};

Bench &bench()
{
    static Bench b = [] {
        char tmpl[] = "/tmp/zembench-XXXXXX";
        platform::configure(platform::Mode::Sim, mkdtemp(tmpl));
        platform::setPausesEnabled(false);
        Bench s;
        s.chip = std::make_shared<platform::sim::SimC331>();
        platform::spi::sim::attach(c331_drv::DEVICE, s.chip);
        s.manager.reset(new c331_manage());
        s.manager->c331_fd = s.manager->c331drv->initialize();
        return s;
    }();
    return b;
}

// Arguments: bytes per write, bus timing on (1) or off (0).
void BM_ChipFlashWrite(benchmark::State &state)
{
    Bench &b = bench();
    const uint32_t len = uint32_t(state.range(0));
    const std::vector<uint8_t> data(len, 0x5A), erased(len, 0xFF);
    platform::spi::sim::setBusTiming(state.range(1) != 0);
    uint32_t address = 0;
    for (auto _ : state) {
        state.PauseTiming();
        address = (address + len) % (c331_manage::SFL_SIZE - len);
        b.chip->flash().preset(address, erased);
        b.chip->clearLog();
        state.ResumeTiming();
        b.manager->write_flash(b.manager->c331_fd, address, len, data.data());
    }
    platform::spi::sim::setBusTiming(false);
    state.SetBytesProcessed(int64_t(state.iterations()) * len);
}

void BM_FontLoad(benchmark::State &state)
{
    Bench &b = bench();
    b.manager->load_system_param();
    b.manager->load_font_map();
    // Every glyph byte present in the flash, as on a device with all fonts.
    b.chip->flash().preset(0, std::vector<uint8_t>(0xED9800, 0x3C));
    for (auto _ : state)
        b.manager->update_font(b.manager->c331_fd);
    state.SetBytesProcessed(int64_t(state.iterations()) * (0x3000 + 0x290000 + 0xC000 + 0xA40000));
}

} // namespace

BENCHMARK(BM_ChipFlashWrite)->Args({4096, 0})->Args({65536, 0})->Args({4096, 1})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FontLoad)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
