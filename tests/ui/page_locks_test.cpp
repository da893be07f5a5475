// What the panel reads or writes of the shared settings waits for a writer
// on another thread that holds their lock: a writer holds it a while, and
// what the panel did meanwhile shows.

#include "panel_fixture.h"

#include "app/para_lock.h"
#include "ui/linkoption.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace zemtest;
using namespace std::chrono_literals;

namespace {

class PageLocksTest : public PanelTest
{
protected:
    // Runs `hold` on a thread of its own under `take` (which holds a lock
    // for the life of the object it returns), for 300 ms; returns once the
    // lock is held. join() waits for the writer.
    template <class Take>
    void holdOnAnotherThread(Take take, std::function<void()> atEnd)
    {
        std::atomic<bool> held{false};
        m_writer = std::thread([&held, take, atEnd] {
            auto lock = take();
            held = true;
            std::this_thread::sleep_for(300ms);
            atEnd();
        });
        while (!held)
            std::this_thread::yield();
    }
    void join() { m_writer.join(); }

private:
    std::thread m_writer;
};

// The link page shows the address a writer puts in place before letting go.
TEST_F(PageLocksTest, LinkPageShowsTheAddressOfAWriterHoldingTheSettingsLock)
{
    MainWindow *w = startPanel();
    auto *page = new LinkOption(w);
    const QString saved = g_str_ip;
    holdOnAnotherThread([] { return std::make_unique<std::lock_guard<std::mutex>>(g_config_text_mutex); },
                        [] { g_str_ip = QStringLiteral("10.9.8.7"); });
    page->syncUpdate();
    join();
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("IP: 10.9.8.7"))) << page->shownLines().join('|').toStdString();
    g_str_ip = saved;
}

// A user-mode save asked on the panel lands in the image only once a writer
// holding the image's lock lets go.
TEST_F(PageLocksTest, UserModeSaveWaitsForAWriterHoldingTheImageLock)
{
    MainWindow *w = startPanel();
    std::atomic<int> seenWhileHeld{-1};
    holdOnAnotherThread([] { return std::make_unique<ParaLock>(); },
                        [this, &seenWhileHeld] { seenWhileHeld = para::get16(store->ram_para, para::USER_MODE_SAVE); });
    w->user_mode_request(3, true);
    join();
    EXPECT_EQ(seenWhileHeld.load(), 0);
    EXPECT_EQ(para::get16(store->ram_para, para::USER_MODE_SAVE), 3);
}

} // namespace
