// A full OSD rebuild on the simulated chip without bus timing: a 1920 x 1080
// character area cleared, 64 lines of 120 characters laid out (those that
// fit drawn), the visible part tiled for scrolling and the windows
// programmed. Argument: horizontal alignment, 0 left (one engine command a
// line) or 3 justify (one command a character). The target is under 0.5 s.

#include "app/global.h"
#include "platform/sim_c331.h"
#include "platform/spi.h"
#include "support/temp_root.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

const char *const ALIGN[4] = {"left", "center", "right", "justify"};

void BM_OsdRebuild1920x1080(benchmark::State &state)
{
    zemtest::TempRoot root;
    g_debugSwitch = 0;
    auto chip = std::make_shared<platform::sim::SimC331>();
    platform::spi::sim::attach(c331_drv::DEVICE, chip);
    c331_manage m;
    m.c331_fd = m.c331drv->initialize();
    m.load_system_param();
    m.define_param();
    m.PS_ACTHW = m.PS_PANEL_HW = 1920;
    m.PS_ACTVW = m.PS_PANEL_VW = 1080;
    m.PS_PANEL_HSHAPE = m.PS_PANEL_VSHAPE = 1;

    OMENU_PARA menu;
    menu.osdcount = 1;
    menu.status = "on";
    menu.w = 1920;
    menu.h = 1080;
    menu.fontw = menu.fonth = 32;
    menu.back_color = "000000";
    menu.font_color = "FFFFFF";
    menu.h_align = ALIGN[state.range(0)];
    for (int line = 0; line < 64; ++line) {
        for (int k = 0; k < 120; ++k)
            menu.text += char('!' + (line + k) % 94);
        menu.text += '\n';
    }
    m.set_OSD_para(menu);

    uint64_t frames = 0;
    size_t draws = 0;
    for (auto _ : state) {
        chip->engine().clearOps();
        const uint64_t before = chip->mark();
        m.update_osd(m.c331_fd);
        frames += chip->mark() - before;
        draws += chip->engine().draws().size();
    }
    if (draws == 0)
        state.SkipWithError("nothing was drawn");
    state.counters["spi_frames"] = benchmark::Counter(double(frames) / double(state.iterations()));
    state.counters["draws"] = benchmark::Counter(double(draws) / double(state.iterations()));
    platform::spi::sim::detachAll();
}

} // namespace

BENCHMARK(BM_OsdRebuild1920x1080)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
