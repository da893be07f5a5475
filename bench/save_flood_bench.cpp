// A PC tool sending user-mode saves without pause: register 11 with the save
// request word set, for modes 1 to 16 in turn, while the GUI thread runs its
// event loop between requests as it would between two frames. Reported: the
// requests a second, the mode files the GUI thread wrote a second, and the
// most saves that waited at once (bounded by the 16 modes, whatever the rate).

#include "app/para_layout.h"
#include "app/syncupdate.h"
#include "app/zemrampara.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/timing.h"
#include "protocol/message_deal.h"
#include "support/pending_saves.h"
#include "support/temp_root.h"
#include "videoproc/c331_manage.h"

#include <QCoreApplication>
#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

void BM_SaveFlood(benchmark::State &state)
{
    static int argc = 1;
    static char name[] = "save_flood_bench";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    zemtest::TempRoot root;
    platform::setPausesEnabled(false);
    ZemRamPara::resetForTest();
    ZemRamPara *store = ZemRamPara::pInstance();
    SyncUpdate::resetForTest();
    SyncUpdate::pInstance()->listen_to(store);
    c331_manage::instance()->para_changed = 0;   // no chip thread here
    message_deal handler;
    platform::files::testing::takeSyncCounts();

    uint16_t mode = 0;
    uint32_t sent = 0;
    size_t waiting = 0;
    for (auto _ : state) {
        mode = uint16_t(mode % para::MODE_COUNT + 1);
        {
            ImageLock lock(store);
            // A new picture each round, so that every save has a file to rewrite.
            store->setWord(para::CONTRAST, uint16_t(sent++ / para::MODE_COUNT % 100));
            store->setWord(para::USER_MODE_SAVE, mode);
        }
        handler.REG_mcu_flag(11, 0x02);
        waiting = std::max(waiting, store->pending_saves().size());
        QCoreApplication::processEvents();
    }
    state.counters["requests"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["files"] =
        benchmark::Counter(double(platform::files::testing::takeSyncCounts().files), benchmark::Counter::kIsRate);
    state.counters["waiting_max"] = double(waiting);
    SyncUpdate::resetForTest();
    zemtest::dropPendingSaves(store);
}

} // namespace

BENCHMARK(BM_SaveFlood)->UseRealTime()->MinTime(2.0);
BENCHMARK_MAIN();
