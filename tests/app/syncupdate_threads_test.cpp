// Notifications that workers send at the same time: each code reaches the
// page in front once, none lost and none doubled.

#include "ui/panel_fixture.h"

#include "ui/machinestate.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace zemtest;

namespace {

// The device-state page, counting how often a notification redraws it.
class CountingStatePage : public MachineState
{
public:
    int redraws = 0;

protected:
    void redraw() override
    {
        ++redraws;
        MachineState::redraw();
    }
};

using SyncUpdateThreadsTest = PanelTest;

TEST_F(SyncUpdateThreadsTest, CodesNotifiedFromSeveralThreadsAreEachHandledOnce)
{
    CountingStatePage page;   // registers itself as the page in front
    ASSERT_EQ(g_page_focus.load(), page::MachineState);
    // Four workers, released together, each send 500 codes of their own; a
    // race shows in some bursts only, so there are three.
    constexpr int WORKERS = 4, CODES = 500;
    for (int burst = 0; burst < 3; ++burst) {
        page.redraws = 0;
        std::atomic<bool> go{false};
        std::vector<std::thread> workers;
        for (int t = 0; t < WORKERS; ++t)
            workers.emplace_back([this, t, &go] {
                while (!go.load())
                    std::this_thread::yield();
                for (int i = 0; i < CODES; ++i)
                    sync->notify(1000 + t * CODES + i);
            });
        go = true;
        for (std::thread &t : workers)
            t.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(page.redraws, WORKERS * CODES) << "burst " << burst;
    }
}

} // namespace
