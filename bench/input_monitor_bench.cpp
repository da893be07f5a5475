// Input monitoring with a source plugged into each of the six inputs and a
// window showing each chip port, against the simulated chip and receivers
// without bus timing (the program's own processor time only):
//   - ChipPoll: one input check of the chip thread (receiver records, the
//     no-signal watch, the measurement and change test of six ports);
//   - SourceTurn: one turn of the check-source thread (six receivers read
//     over I2C, their records and the input-timing bytes of the image).
// Counter core_pct: that time as a share of one core at the rate the thread
// runs it (the chip thread's input period, the check-source thread's turn).
// Target: both together at most 1 % of one core.

#include "app/zemrampara.h"
#include "platform/i2c.h"
#include "platform/platform.h"
#include "platform/sim_inputs.h"
#include "platform/spi.h"
#include "platform/timing.h"
#include "videoio/drv_i2c.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_manage.h"

#include "app/global.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

namespace {

void ensureRoot()
{
    g_debugSwitch = 0;
    static std::string root = [] {
        char tmpl[] = "/tmp/zem-inbench-XXXXXX";
        std::string dir = mkdtemp(tmpl);
        platform::configure(platform::Mode::Sim, dir);
        platform::setPausesEnabled(false);
        platform::ensureDataDirs();
        platform::spi::sim::setBusTiming(false);
        std::atexit([] { std::error_code ec; std::filesystem::remove_all(root, ec); });
        return dir;
    }();
}

// Six sources: four HDMI inputs and two V-by-One inputs.
void plugSixSources()
{
    namespace sources = platform::sim::inputs;
    const struct {
        uint16_t w, h;
        double rate;
        bool interlaced;
    } plugged[sources::COUNT] = {
        {1920, 1080, 60, false}, {1280, 720, 50, false}, {1920, 1080, 50, true},
        {1024, 768, 60, false},  {3840, 2160, 30, false}, {1920, 1080, 60, false},
    };
    for (int i = 0; i < sources::COUNT; ++i) {
        sources::Source s;
        s.plugged = true;
        s.width = plugged[i].w;
        s.height = plugged[i].h;
        s.rate = plugged[i].rate;
        s.interlaced = plugged[i].interlaced;
        sources::plug(i, s);
    }
}

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// Share of one core taken by `iterations` runs that cost `cpu` seconds, when
// one run happens every `periodMs`.
void reportShare(benchmark::State &state, double cpu, unsigned periodMs)
{
    const double perRun = cpu / double(state.iterations());
    state.counters["core_pct"] = 100.0 * perRun / (periodMs / 1000.0);
}

tarixsource *sourceManager()
{
    tarixsource *src = tarixsource::pInstance();
    if (src->i2c_fd < 0)
        src->i2c_fd = Drv_I2C0::I2C_Open();
    src->source_enable = 0x3F;
    return src;
}

// A chip manager whose six windows show the six ports, with the sources'
// timing taken in.
std::unique_ptr<c331_manage> monitoringChip()
{
    platform::spi::sim::detachAll();
    auto m = std::make_unique<c331_manage>();
    m->c331_fd = m->c331drv->initialize();
    platform::i2c::sim::reset();
    plugSixSources();
    m->load_system_param();
    m->gMwin.count = c331_manage::WIN_NUM;
    for (int w = 0; w < c331_manage::WIN_NUM; ++w)
        m->PM_INPUT[w] = w;
    sourceManager()->check_source_turn();
    m->load_hdmi();
    m->check_input_port(m->c331_fd);
    return m;
}

void ChipPoll(benchmark::State &state)
{
    ensureRoot();
    ZemRamPara::pInstance();
    std::unique_ptr<c331_manage> m = monitoringChip();
    const double start = cpuSeconds();
    for (auto _ : state) {
        m->load_hdmi();
        m->check_port_valid(m->c331_fd);
        m->check_input_port(m->c331_fd);
    }
    reportShare(state, cpuSeconds() - start, c331_manage::INPUT_POLL_MS);
}
BENCHMARK(ChipPoll)->MeasureProcessCPUTime()->UseRealTime();

void SourceTurn(benchmark::State &state)
{
    ensureRoot();
    ZemRamPara::pInstance();
    std::unique_ptr<c331_manage> m = monitoringChip();
    tarixsource *src = sourceManager();
    const double start = cpuSeconds();
    for (auto _ : state)
        src->check_source_turn();
    reportShare(state, cpuSeconds() - start, tarixsource::TURN_MS);
}
BENCHMARK(SourceTurn)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

BENCHMARK_MAIN();
