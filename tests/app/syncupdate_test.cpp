// The change dispatcher: persistence of the parameter image, user-mode save
// and clean-up, the keypad LED report and the notices it shows.

#include "ui/panel_fixture.h"
#include "support/blocked_call.h"
#include "support/patience.h"
#include "support/pctool.h"

#include "app/config_engine.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "protocol/message_deal.h"
#include "ui/input/custommode.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/tip.h"
#include "ui/zem_keyboard.h"

#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace zemtest;

namespace {

class SyncUpdateTest : public PanelTest
{
protected:
    // A parameter file whose every byte is recognisable.
    std::string markedFile()
    {
        std::string f(para::FILE_SIZE, '\0');
        for (size_t i = 0; i < f.size(); ++i)
            f[i] = static_cast<char>(0x30 + i % 7);
        f[0] = f[1] = static_cast<char>(0xAA);
        writeFile(paraFile(), f);
        return f;
    }

    std::vector<uint8_t> report(std::initializer_list<uint8_t> b) { return std::vector<uint8_t>(b); }

    // Image byte `offset` as the file stores it, once the GUI thread's
    // queued turns (and a rewrite waiting for its interval) have run.
    int storedSoon(uint32_t offset, uint8_t expected)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience(std::chrono::seconds(1));
        uint8_t v;
        while ((v = uint8_t(readFile(paraFile())[2 + offset - para::PERSISTENT_START])) != expected
               && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        return v;
    }

    // Every user-mode save waiting has been stored (or has failed).
    bool savesStored()
    {
        const auto deadline = std::chrono::steady_clock::now() + patience(std::chrono::seconds(5));
        while (!store->pending_saves().empty() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        return store->pending_saves().empty();
    }

    // Lets the least time between two rewrites of a file pass.
    static void letTheRewriteIntervalsPass()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(
            std::max(SyncUpdate::PERSIST_INTERVAL_MS, SyncUpdate::MODE_REWRITE_INTERVAL_MS)));
    }
};

TEST_F(SyncUpdateTest, PersistentChangeRewritesOnlyTheImagePartOfTheFile)
{
    const std::string before = markedFile();
    store->ram_para[para::UNUSED_770] = 0x77;
    sync->para_sync(1);

    const std::string after = readFile(paraFile());
    ASSERT_EQ(after.size(), para::FILE_SIZE);
    EXPECT_EQ(after.substr(0, 2), before.substr(0, 2));
    EXPECT_EQ(0, std::memcmp(after.data() + 2, store->ram_para + para::PERSISTENT_START, para::PERSISTENT_SIZE));
    EXPECT_EQ(after.substr(3330), before.substr(3330));
}

TEST_F(SyncUpdateTest, VolatileChangeWritesNothingAndKeepsTheSnapshot)
{
    const std::string before = markedFile();
    store->ram_para[300] = 0x12;
    sync->para_sync(1);
    EXPECT_EQ(readFile(paraFile()), before);
    EXPECT_EQ(store->ram_para_back[300], 0);
}

TEST_F(SyncUpdateTest, FailedWriteLeavesTheOldFileWhole)
{
    const std::string before = markedFile();
    store->ram_para[para::UNUSED_770] = 0x77;
    store->ram_para[4000] = 0x55;
    platform::files::testing::failNextWriteAfter(100);
    sync->para_sync(1);
    EXPECT_EQ(readFile(paraFile()), before);
}

TEST_F(SyncUpdateTest, FailedWriteIsRetriedWithTheNextNotification)
{
    markedFile();
    store->ram_para[para::UNUSED_770] = 0x77;
    platform::files::testing::failNextWriteAfter(100);
    sync->para_sync(1);

    // Any later notification (an input change, say) stores it, once the
    // rewrite interval has passed.
    sync->para_sync(12);
    EXPECT_EQ(storedSoon(para::UNUSED_770, 0x77), 0x77);
}

// The PC tool's RAM write waits for register 11; notifications in between
// (an input change, another link's apply) store it once, not each time.
TEST_F(SyncUpdateTest, ChangeIsStoredOnceWhetherAppliedOrNot)
{
    std::vector<uint8_t> write = pctool::ramWrite(pctool::CONTROLLER, para::CONTRAST, {77, 0});
    ASSERT_EQ(message_deal().message_group_deal(write.data(), uint32_t(write.size()), 1), 1u);
    ASSERT_EQ(store->word(para::CONTRAST), 77);
    platform::files::testing::takeSyncCounts();
    sync->para_sync(12);
    EXPECT_EQ(static_cast<uint8_t>(readFile(paraFile())[2 + para::CONTRAST - para::PERSISTENT_START]), 77);
    EXPECT_EQ(platform::files::testing::takeSyncCounts().files, 1u);
    sync->para_sync(12);
    sync->para_sync(1);
    EXPECT_EQ(platform::files::testing::takeSyncCounts().files, 0u);
}

// A missing parameter file would let the next start fall back to the
// defaults and lose every setting: it is written anew from the image.
TEST_F(SyncUpdateTest, MissingFileIsRebuiltFromTheImage)
{
    platform::files::remove("/data/ram_device_info");
    store->ram_para[para::UNUSED_770] = 0x77;
    sync->para_sync(1);
    const std::string file = readFile(paraFile());
    ASSERT_EQ(file.size(), para::FILE_SIZE);
    EXPECT_EQ(static_cast<uint8_t>(file[0]), 0xAA);
    EXPECT_EQ(static_cast<uint8_t>(file[1]), 0xAA);
    EXPECT_EQ(0, std::memcmp(file.data() + 2, store->ram_para + para::PERSISTENT_START, para::PERSISTENT_SIZE));
    EXPECT_EQ(static_cast<uint8_t>(file[3330]), 0);
}

TEST_F(SyncUpdateTest, SaveRequestStoresTheUserMode)
{
    store->ram_para[2000] = 0x42;
    para::set16(store->ram_para, para::USER_MODE_SAVE, 3);
    sync->para_sync(1);

    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 3);
    EXPECT_EQ(store->word(para::USER_MODE_SAVE), 0);
    const std::string mode = readFile(root.host("/data/modes/custom_mode3"));
    ASSERT_EQ(mode.size(), para::SLOT_FILE_SIZE);
    EXPECT_EQ(static_cast<uint8_t>(mode[0]), 0xAA);
    EXPECT_EQ(static_cast<uint8_t>(mode[1]), 0xAA);
    EXPECT_EQ(static_cast<uint8_t>(mode[para::slotOffset(2000)]), 0x42);
    // The new current-mode word is persistent, so the file follows.
    EXPECT_EQ(static_cast<uint8_t>(readFile(paraFile())[2 + para::CURRENT_USER_MODE - para::PERSISTENT_START]), 3);
}

// A save while another link's apply is pending: the words the save sets are
// in the snapshot at once, so register 11 does not take the new current mode
// for a recall and load the slot over that link's later write.
TEST_F(SyncUpdateTest, SavedModeIsNotReloadedOverALaterWrite)
{
    raise_apply_request(1);
    para::set16(store->ram_para, 1872, 1000);
    para::set16(store->ram_para, para::USER_MODE_SAVE, 1);
    sync->para_sync(1);
    ASSERT_EQ(store->ZemUserModeSaved(0), 1);
    ASSERT_EQ(store->word(para::CURRENT_USER_MODE), 1);

    para::set16(store->ram_para, 1872, 2000);
    message_deal().REG_mcu_flag(11, 0x02);
    EXPECT_EQ(store->word(1872), 2000);
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 0);
}

// Two saves applied back to back before the GUI thread's turn: both are
// stored, each with the image of its own apply, the second left current.
TEST_F(SyncUpdateTest, SavesAppliedBackToBackAreBothStoredWithTheirOwnImage)
{
    para::set16(store->ram_para, para::CONTRAST, 20);
    para::set16(store->ram_para, para::USER_MODE_SAVE, 2);
    message_deal().REG_mcu_flag(11, 0x02);
    para::set16(store->ram_para, para::CONTRAST, 60);
    para::set16(store->ram_para, para::USER_MODE_SAVE, 10);
    message_deal().REG_mcu_flag(11, 0x02);
    ASSERT_TRUE(savesStored());

    const std::string two = readFile(root.host("/data/modes/custom_mode2"));
    const std::string ten = readFile(root.host("/data/modes/custom_mode10"));
    ASSERT_EQ(two.size(), para::SLOT_FILE_SIZE);
    ASSERT_EQ(ten.size(), para::SLOT_FILE_SIZE);
    EXPECT_EQ(static_cast<uint8_t>(two[para::slotOffset(para::CONTRAST)]), 20);
    EXPECT_EQ(static_cast<uint8_t>(ten[para::slotOffset(para::CONTRAST)]), 60);
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 10);
    EXPECT_EQ(storedSoon(para::CURRENT_USER_MODE, 10), 10);
}

// Saves, changes and recalls applied back to back, before the GUI thread's
// turn, end where they end when each is applied once the one before was
// stored: the current mode, the picture and the mode files. Each save is
// applied with its own picture, so it leaves the mode current before it
// (a change). A mode marked "x" cannot be stored (a folder stands at its
// file's name); "d" is the panel's delete. Mode 5 was saved before with
// contrast 70.
TEST_F(SyncUpdateTest, SavesChangesAndRecallsBackToBackEndAsWhenPaced)
{
    struct Op {
        char kind;   // s save, x save that cannot be stored, c change, r recall, d delete
        uint8_t mode;
        uint8_t contrast;
    };
    struct Case {
        std::vector<Op> ops;
        uint16_t current;
        uint8_t contrast;
        std::vector<std::pair<int, int>> files;   // mode, its file's contrast (-1: no file)
    };
    const std::vector<Case> cases = {
        {{{'s', 3, 20}, {'c', 0, 40}}, 0, 40, {{3, 20}}},
        {{{'s', 3, 20}, {'c', 0, 40}, {'r', 3, 0}}, 3, 20, {{3, 20}}},
        {{{'s', 2, 20}, {'s', 10, 60}}, 10, 60, {{2, 20}, {10, 60}}},
        {{{'s', 3, 20}, {'s', 3, 50}}, 3, 50, {{3, 50}}},
        {{{'s', 2, 20}, {'s', 10, 60}, {'s', 2, 80}}, 2, 80, {{2, 80}, {10, 60}}},
        {{{'s', 3, 20}, {'r', 5, 0}}, 5, 70, {{3, 20}, {5, 70}}},
        {{{'r', 5, 0}, {'s', 3, 20}}, 3, 20, {{3, 20}}},
        {{{'x', 2, 20}, {'s', 10, 60}}, 10, 60, {{2, -1}, {10, 60}}},
        {{{'s', 2, 20}, {'x', 10, 60}}, 0, 60, {{2, 20}, {10, -1}}},
        {{{'x', 2, 20}, {'x', 10, 60}}, 0, 60, {{2, -1}, {10, -1}}},
        {{{'s', 3, 20}, {'d', 3, 0}}, 0, 20, {{3, -1}}},
        {{{'s', 3, 20}, {'s', 2, 30}, {'d', 3, 0}}, 2, 30, {{2, 30}, {3, -1}}},
    };
    auto contrastOf = [this](int mode) {
        const std::string f = readFile(root.host("/data/modes/custom_mode" + std::to_string(mode)));
        return f.size() == para::SLOT_FILE_SIZE ? int(uint8_t(f[para::slotOffset(para::CONTRAST)])) : -1;
    };
    auto apply = [this](uint16_t word, uint16_t value) {
        para::set16(store->ram_para, word, value);
        message_deal().REG_mcu_flag(11, 0x02);
    };
    for (bool paced : {true, false}) {
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(std::string(paced ? "paced, case " : "back to back, case ") + std::to_string(i));
            for (int mode = 1; mode <= 16; ++mode) {
                const std::string name = root.host("/data/modes/custom_mode" + std::to_string(mode));
                ::rmdir(name.c_str());
                ::unlink(name.c_str());
                store->mode_file_deal(mode - 1, 0);
            }
            para::set16(store->ram_para, para::CONTRAST, 70);
            apply(para::USER_MODE_SAVE, 5);
            ASSERT_TRUE(savesStored());
            apply(para::CONTRAST, 0);
            ASSERT_EQ(store->word(para::CURRENT_USER_MODE), 0);

            for (const Op &op : cases[i].ops) {
                if (op.kind == 'x')
                    ::mkdir(root.host("/data/modes/custom_mode" + std::to_string(op.mode)).c_str(), 0755);
                if (op.kind == 'r') {
                    apply(para::CURRENT_USER_MODE, op.mode);
                } else if (op.kind == 'c') {
                    apply(para::CONTRAST, op.contrast);
                } else if (op.kind == 'd') {
                    CustomMode::deleteMode(op.mode);
                } else {
                    para::set16(store->ram_para, para::CONTRAST, op.contrast);
                    apply(para::USER_MODE_SAVE, op.mode);
                }
                if (paced) {
                    ASSERT_TRUE(savesStored());
                }
            }
            ASSERT_TRUE(savesStored());
            EXPECT_EQ(store->word(para::CURRENT_USER_MODE), cases[i].current);
            EXPECT_EQ(store->word(para::CONTRAST), cases[i].contrast);
            for (const auto &f : cases[i].files) {
                EXPECT_EQ(contrastOf(f.first), f.second) << "mode " << f.first;
                EXPECT_EQ(store->ZemUserModeSaved(f.first - 1), f.second >= 0) << "mode " << f.first;
            }
            EXPECT_EQ(storedSoon(para::CURRENT_USER_MODE, uint8_t(cases[i].current)), cases[i].current);
        }
    }
}

TEST_F(SyncUpdateTest, RecallAfterASaveBeforeItIsStoredStaysTheCurrentMode)
{
    store->user_mode_ram[4][0] = store->user_mode_ram[4][1] = 0xAA;
    para::set16(store->ram_para, para::USER_MODE_SAVE, 2);
    message_deal().REG_mcu_flag(11, 0x02);
    para::set16(store->ram_para, para::CURRENT_USER_MODE, 5);
    message_deal().REG_mcu_flag(11, 0x02);
    QCoreApplication::processEvents();

    EXPECT_EQ(readFile(root.host("/data/modes/custom_mode2")).size(), para::SLOT_FILE_SIZE);
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 5);
}

TEST_F(SyncUpdateTest, SaveRequestWhoseFileCannotBeWrittenLeavesTheSlotEmpty)
{
    ASSERT_EQ(store->ZemUserModeSaved(2), 0);
    para::set16(store->ram_para, para::USER_MODE_SAVE, 3);
    platform::files::testing::failNextWriteAfter(0);
    sync->para_sync(1);

    // No file: the panel must not offer mode 3 as saved, nor call it current.
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode3"));
    EXPECT_EQ(store->ZemUserModeSaved(2), 0);
    EXPECT_EQ(store->ZemUserModeIndex(16, 2), 256);
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 0);
    EXPECT_EQ(store->word(para::USER_MODE_SAVE), 0);
}

TEST_F(SyncUpdateTest, FailedSaveOverASavedModeKeepsWhatItsFileHolds)
{
    // Mode 3 saved with byte 2000 = 0x11.
    store->ram_para[2000] = 0x11;
    para::set16(store->ram_para, para::USER_MODE_SAVE, 3);
    sync->para_sync(1);
    ASSERT_EQ(store->ZemUserModeSaved(2), 1);

    // Saving it again fails: slot, file and current mode still agree on the old mode.
    letTheRewriteIntervalsPass();
    store->ram_para[2000] = 0x22;
    para::set16(store->ram_para, para::CURRENT_USER_MODE, 0);
    para::set16(store->ram_para, para::USER_MODE_SAVE, 3);
    platform::files::testing::failNextWriteAfter(0);
    sync->para_sync(1);
    EXPECT_EQ(store->ZemUserModeSaved(2), 1);
    EXPECT_EQ(store->user_mode_ram[2][para::slotOffset(2000)], 0x11);
    EXPECT_EQ(static_cast<uint8_t>(readFile(root.host("/data/modes/custom_mode3"))[para::slotOffset(2000)]), 0x11);
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 0);
}

TEST_F(SyncUpdateTest, SaveRequestAlreadyInTheSnapshotOrOutOfRangeSavesNothing)
{
    para::set16(store->ram_para, para::USER_MODE_SAVE, 3);
    para::set16(store->ram_para_back, para::USER_MODE_SAVE, 3);
    sync->para_sync(1);
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode3"));

    para::set16(store->ram_para, para::USER_MODE_SAVE, 17);
    sync->para_sync(1);
    EXPECT_EQ(store->word(para::USER_MODE_SAVE), 0);
    for (int n = 1; n <= 17; ++n)
        EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode" + std::to_string(n))) << n;
}

TEST_F(SyncUpdateTest, CodeTwoDeletesSlotsMarkedEmptyAndRewritesSavedOnes)
{
    writeFile(root.host("/data/modes/custom_mode6"), std::string(para::SLOT_FILE_SIZE, 'x'));
    store->user_mode_ram[5][0] = 0xFF;
    store->user_mode_ram[5][1] = 0xAA;
    store->user_mode_ram[2][0] = 0xAA;
    store->user_mode_ram[2][1] = 0xAA;
    store->user_mode_ram[2][10] = 0x99;

    sync->para_sync(1);
    EXPECT_TRUE(platform::files::exists("/data/modes/custom_mode6")) << "only code 2 examines the slots";

    sync->para_sync(2);
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode6"));
    EXPECT_EQ(store->user_mode_ram[5][0], 0xFF);
    EXPECT_EQ(store->user_mode_ram[5][1], 0xFF);
    const std::string kept = readFile(root.host("/data/modes/custom_mode3"));
    ASSERT_EQ(kept.size(), para::SLOT_FILE_SIZE);
    EXPECT_EQ(static_cast<uint8_t>(kept[10]), 0x99);

    // A file that holds its slot already is not written again.
    platform::files::testing::takeSyncCounts();
    sync->para_sync(2);
    EXPECT_EQ(platform::files::testing::takeSyncCounts().files, 0u);
    store->user_mode_ram[2][10] = 0x98;
    sync->para_sync(2);
    EXPECT_EQ(platform::files::testing::takeSyncCounts().files, 1u);
    EXPECT_EQ(static_cast<uint8_t>(readFile(root.host("/data/modes/custom_mode3"))[10]), 0x98);
}

// Notifications of worker threads wait for the GUI thread together: each
// code is handled once, in the order of its last arrival, none is lost.
TEST_F(SyncUpdateTest, WorkerNotificationsAreHandledTogetherInTheOrderOfTheirLastArrival)
{
    MainWindow *w = startPanel();
    w->show();
    new firmware_usbgrade(w);
    g_page_focus = page::FirmwareUsbgrade;
    writeFile(root.host("/data/modes/custom_mode6"), std::string(para::SLOT_FILE_SIZE, 'x'));
    store->ram_para[para::UNUSED_770] = 0x77;
    std::thread worker([this] {
        for (int code : {100, 2, 1, 101, 2, 100})
            store->test_signal(code);
    });
    worker.join();

    const int before = TIP::shownCount();
    QCoreApplication::processEvents();
    // Stick in, out, in: only "inserted" is shown, the stick is in.
    EXPECT_EQ(TIP::shownCount() - before, 1);
    ASSERT_NE(g_tip, nullptr);
    EXPECT_EQ(g_tip->kind(), 3);
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode6"));
    EXPECT_EQ(storedSoon(para::UNUSED_770, 0x77), 0x77);
}

// A worker that notifies while the GUI thread takes the codes waiting: the
// thread checker sees both sides of the queue under its lock.
TEST_F(SyncUpdateTest, WorkerNotifiesWhileTheGuiThreadDrains)
{
    std::atomic<bool> sent{false};
    std::thread worker([this, &sent] {
        store->test_signal(12);
        store->test_signal(11);
        // Relaxed: no order with the GUI thread but the queue's own.
        sent.store(true, std::memory_order_relaxed);
    });
    const auto deadline = std::chrono::steady_clock::now() + patience(std::chrono::seconds(5));
    while (!sent.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    store->ram_para[para::UNUSED_770] = 0x71;
    QCoreApplication::processEvents();
    worker.join();
    EXPECT_EQ(storedSoon(para::UNUSED_770, 0x71), 0x71);
}

// A change every millisecond for two seconds, each notified by a worker
// while the GUI thread runs: the file is rewritten no more than once an
// interval, and holds the last change soon after it.
TEST_F(SyncUpdateTest, ChangesAtAnyRateRewriteTheFileAtMostOnceAnIntervalEndingWithTheLast)
{
    platform::files::testing::takeSyncCounts();
    std::atomic<bool> done{false};
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([this, &done] {
        for (int i = 1; i <= 2000; ++i) {
            {
                ImageLock lock(store);
                store->ram_para[para::UNUSED_770] = uint8_t(i % 200);
            }
            store->test_signal(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    worker.join();
    const auto last = std::chrono::steady_clock::now();
    EXPECT_EQ(storedSoon(para::UNUSED_770, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - last, patience(std::chrono::milliseconds(200)));
    // The first change is stored at once, each later rewrite an interval after the one before.
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LE(platform::files::testing::takeSyncCounts().files, size_t(took.count() / SyncUpdate::PERSIST_INTERVAL_MS + 1))
        << "in " << took.count() << " ms";
}

TEST_F(SyncUpdateTest, KeypadReportFollowsTheCurrentWindow)
{
    // Window 2 enabled and current, showing source 4 without signal, frozen.
    enableWindow(2);
    para::set16(store->ram_para, para::window(2, para::WIN_SOURCE), 4);
    para::set16(store->ram_para, para::window(2, para::WIN_FLAGS), para::WIN_FLAG_FREEZE);
    uint8_t r[5];
    SyncUpdate::build_keyLed(store->ram_para, 2, false, r);
    EXPECT_EQ(std::vector<uint8_t>(r, r + 5), report({0xA5, 0x10, 0x00, 0x02, 0x01}));

    // The same window with a signal on source 4, blacked out as well, during an upgrade.
    para::set16(store->ram_para, para::INPUT_TIMING + 24, 1920);
    para::set16(store->ram_para, para::INPUT_TIMING + 26, 1080);
    para::set16(store->ram_para, para::INPUT_TIMING + 28, 60);
    para::set16(store->ram_para, para::window(2, para::WIN_FLAGS), para::WIN_FLAG_FREEZE | para::WIN_FLAG_BLACK);
    SyncUpdate::build_keyLed(store->ram_para, 2, true, r);
    EXPECT_EQ(std::vector<uint8_t>(r, r + 5), report({0x5A, 0x10, 0x00, 0x01, 0x05}));

    // Window 5 disabled showing source 1: no window key, source key still lit.
    para::set16(store->ram_para, para::window(5, para::WIN_SOURCE), 1);
    SyncUpdate::build_keyLed(store->ram_para, 5, false, r);
    EXPECT_EQ(std::vector<uint8_t>(r, r + 5), report({0xA5, 0x00, 0x80, 0x00, 0x00}));
    enableWindow(5);
    SyncUpdate::build_keyLed(store->ram_para, 5, false, r);
    EXPECT_EQ(std::vector<uint8_t>(r, r + 5), report({0xA5, 0x00, 0x84, 0x00, 0x00}));
}

TEST_F(SyncUpdateTest, KeypadGetsAReportOnlyWhenPresentAndChanged)
{
    // Without the keypad found at start-up nothing is ever opened.
    platform::hid::sim::setPresent(true);
    sync->para_sync(1);
    EXPECT_EQ(platform::hid::sim::openCount(), 0);

    g_zem_keys = 1;
    enableWindow(2);
    g_image_current = 2;
    para::set16(store->ram_para, para::window(2, para::WIN_SOURCE), 4);
    para::set16(store->ram_para, para::window(2, para::WIN_FLAGS), para::WIN_FLAG_FREEZE);
    sync->para_sync(1);
    sync->para_sync(1);
    ASSERT_EQ(platform::hid::sim::reports().size(), 1u);
    EXPECT_EQ(platform::hid::sim::reports()[0], report({0xA5, 0x10, 0x00, 0x02, 0x01}));
    EXPECT_EQ(platform::hid::sim::openCount(), 1);

    // A failing write still updates the cache: the same report is not retried.
    platform::hid::sim::setWriteFails(true);
    g_update_flag = 1;
    sync->para_sync(105);
    sync->para_sync(105);
    EXPECT_EQ(platform::hid::sim::openCount(), 2);
    EXPECT_EQ(sync->keyLedCache()[0], 0x5A);
}

TEST_F(SyncUpdateTest, UpgradeCodesOnlyRelightTheKeypad)
{
    const std::string before = markedFile();
    g_zem_keys = 1;
    platform::hid::sim::setPresent(true);
    g_update_flag = 1;
    store->ram_para[para::UNUSED_770] = 0x77;
    para::set16(store->ram_para, para::USER_MODE_SAVE, 4);
    sync->para_sync(105);
    ASSERT_EQ(platform::hid::sim::reports().size(), 1u);
    EXPECT_EQ(platform::hid::sim::reports()[0][0], 0x5A);
    EXPECT_EQ(readFile(paraFile()), before);
    EXPECT_EQ(store->word(para::USER_MODE_SAVE), 4);
}

TEST_F(SyncUpdateTest, DisabledCurrentWindowFallsBackToWindowOneExceptOnTheLayoutPage)
{
    g_image_current = 3;
    g_page_focus = 9;
    sync->para_sync(1);
    EXPECT_EQ(g_image_current, 3);
    g_page_focus = 0;
    sync->para_sync(1);
    EXPECT_EQ(g_image_current, 0);
}

TEST_F(SyncUpdateTest, LinkPageShowsTheCheckMarkAfterRefreshAndAfterPersistence)
{
    MainWindow *w = startPanel();
    w->show();
    g_page_focus = 10;   // no LinkOption page open: only the second notice
    int before = TIP::shownCount();
    sync->para_sync(1);
    EXPECT_EQ(TIP::shownCount() - before, 1);
    EXPECT_EQ(g_tip_flag, 0);
}

TEST_F(SyncUpdateTest, HomeScreenPendingNoticeIsShownOnce)
{
    MainWindow *w = startPanel();
    w->show();
    g_page_focus = 1;
    w->notice_pending = true;
    const int before = TIP::shownCount();
    sync->para_sync(1);
    EXPECT_EQ(TIP::shownCount() - before, 1);
    EXPECT_FALSE(w->notice_pending);
    sync->para_sync(1);
    EXPECT_EQ(TIP::shownCount() - before, 1);
}

class NetworkResetTest : public SyncUpdateTest
{
protected:
    void SetUp() override
    {
        SyncUpdateTest::SetUp();
        ConfigEngine::resetInstance();
        ASSERT_NE(ConfigEngine::pInstance(), nullptr);
        platform::shell::sim::clearLog();
    }
    void TearDown() override
    {
        ConfigEngine::resetInstance();
        g_app_reset_flag = 0;
        g_port = 5005;
        SyncUpdateTest::TearDown();
    }
    QString item(ConfigItem::ConfigName id) { return ConfigEngine::p_config->read_config_variant(id).toString(); }
    bool logged(const std::string &cmd)
    {
        const auto log = platform::shell::sim::log();
        return std::find(log.begin(), log.end(), cmd) != log.end();
    }
};

TEST_F(NetworkResetTest, OffThePortResetsAddressesAndRestarts)
{
    ConfigEngine *config = ConfigEngine::p_config;
    config->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.1.2.3"));
    config->write_config_variant(ConfigItem::GateWay, QStringLiteral("10.1.2.1"));
    config->write_config_variant(ConfigItem::SubNetMask, QStringLiteral("255.0.0.0"));
    config->write_config_variant(ConfigItem::TcpPort, 6000);
    g_port = 6000;
    G_timeTicks = 4242;

    sync->para_sync(3);

    EXPECT_EQ(item(ConfigItem::IPAddress), QStringLiteral("192.168.0.199"));
    EXPECT_EQ(item(ConfigItem::GateWay), QStringLiteral("192.168.0.1"));
    EXPECT_EQ(item(ConfigItem::SubNetMask), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(item(ConfigItem::TcpPort).toInt(), 5005);
    EXPECT_TRUE(logged("ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up"));
    EXPECT_TRUE(logged("ip route add default via 192.168.0.1 dev eth0"));
    EXPECT_EQ(g_port, 5005);
    EXPECT_EQ(g_app_reset_flag, 1);
    EXPECT_EQ(G_reboot_tickTicks, 4242u);
    // The stored file carries the reset too.
    const std::string ini = readFile(root.host("/data/configs/tcpip.ini"));
    EXPECT_NE(ini.find("TcpPort=5005"), std::string::npos);
}

TEST_F(NetworkResetTest, OnTheDefaultPortOnlyAppliesTheAddresses)
{
    ConfigEngine::p_config->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.1.2.3"));
    sync->para_sync(3);
    EXPECT_EQ(item(ConfigItem::IPAddress), QStringLiteral("192.168.0.199"));
    EXPECT_TRUE(logged("ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up"));
    EXPECT_EQ(g_app_reset_flag, 0);

    // Other codes leave the network alone.
    platform::shell::sim::clearLog();
    sync->para_sync(1);
    EXPECT_FALSE(logged("ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up"));
}

TEST_F(SyncUpdateTest, EmissionInsideTheNoticeOfAGuiThreadEmissionDoesNotDeadlock)
{
    // On the link page para_sync shows a modal notice; while it waits for the
    // tick, a keypad key emits again from the same (GUI) thread.
    MainWindow *w = startPanel();
    w->show();
    g_zem_keys = 1;
    enableWindow(0);
    g_page_focus = 10;
    bool keyHandled = false;
    QTimer::singleShot(0, [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_M, Qt::NoModifier);
        QCoreApplication::sendEvent(g_tip ? static_cast<QObject *>(g_tip) : w, &key);
        keyHandled = true;
    });
    const int before = TIP::shownCount();
    EXPECT_EQ(store->test_signal(1), 1);
    EXPECT_TRUE(keyHandled);
    EXPECT_GE(TIP::shownCount() - before, 2);
    EXPECT_EQ(store->word(para::window(0, para::WIN_FLAGS)) & para::WIN_FLAG_FREEZE, para::WIN_FLAG_FREEZE);
    EXPECT_EQ(g_tip_flag, 0);
    // The freeze reached the file through the nested refresh; the snapshot
    // waits for the apply pass the key requested.
    const std::string file = readFile(paraFile());
    ASSERT_EQ(file.size(), para::FILE_SIZE);
    EXPECT_EQ(0, std::memcmp(file.data() + 2, store->ram_para + para::PERSISTENT_START, para::PERSISTENT_SIZE));
}

// A chip manager that runs apply passes, installed for one test.
struct InstalledChip {
    c331_manage chip;
    c331_manage *previous = c331_manage::p_c331_manage;
    InstalledChip()
    {
        c331_manage::p_c331_manage = &chip;
        chip.setup_state = 8;
    }
    ~InstalledChip() { c331_manage::p_c331_manage = previous; }
    // One turn of the chip thread, on a thread of its own.
    void pass() { std::thread([this] { c331_manage::c331managerdeal(&chip); }).join(); }
};

TEST_F(SyncUpdateTest, KeyInsideTheNoticeGetsTheImageLockWhileAnApplyPassNotifies)
{
    // Keypad in use, link options page in front: a key's notification shows
    // a modal notice. Meanwhile the chip thread's apply pass notifies, which
    // waits for the GUI's notification to end; a second key inside the notice
    // needs the image's lock, so the pass may not hold it while it waits.
    InstalledChip installed;
    c331_manage &chip = installed.chip;
    startPanel()->show();
    g_zem_keys = 1;
    enableWindow(0);
    g_page_focus = 10;

    std::unique_ptr<BlockedCall> chipTurn;
    bool lockFree = false;
    QTimer::singleShot(0, [&] {
        chipTurn.reset(new BlockedCall([&chip] { c331_manage::c331managerdeal(&chip); }));
        // The pass is over once the request is cleared and the lock is free.
        const auto deadline = std::chrono::steady_clock::now() + zemtest::patience(std::chrono::seconds(5));
        while (!lockFree && std::chrono::steady_clock::now() < deadline) {
            if (pthread_mutex_trylock(&para_lock::mutex()) == 0) {
                lockFree = chip.para_changed == 0;
                pthread_mutex_unlock(&para_lock::mutex());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (lockFree)   // otherwise the second key would wait for ever
            zem_keyboard::update_usb_keyEvent(Qt::Key_M);
        if (g_tip)
            g_tip->done(0);
    });
    ASSERT_TRUE(zem_keyboard::update_usb_keyEvent(Qt::Key_M));
    ASSERT_TRUE(chipTurn);
    EXPECT_TRUE(lockFree);
    ASSERT_TRUE(chipTurn->finishes());
    // Both keys took effect: frozen, then thawed, with a pass requested again.
    EXPECT_EQ(store->word(para::window(0, para::WIN_FLAGS)) & para::WIN_FLAG_FREEZE, 0);
    EXPECT_EQ(chip.para_changed, 1);
    // The pass's queued notification is delivered while the notice can still time out.
    g_page_focus = 0;
    QCoreApplication::processEvents();
}

// The snapshot is the image as the last apply pass took it. Changes stored
// in the file but not applied, and changes written while the pass ran, still
// differ from it; a notification that follows no pass leaves it alone.
TEST_F(SyncUpdateTest, ApplyBeforeTheChipsPassJudgesTheModeAgainstTheLastApply)
{
    para::set16(store->ram_para, para::BRIGHTNESS, 40);
    para::set16(store->ram_para, para::USER_MODE_SAVE, 3);
    sync->para_sync(1);
    ASSERT_EQ(store->word(para::CURRENT_USER_MODE), 3);

    // No pass runs between these applies: leave mode 3, recall it, change
    // the brightness. Each apply judges against the one before.
    para::set16(store->ram_para, para::BRIGHTNESS, 60);
    message_deal().REG_mcu_flag(11, 0x02);
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 0);
    para::set16(store->ram_para, para::CURRENT_USER_MODE, 3);
    message_deal().REG_mcu_flag(11, 0x02);
    EXPECT_EQ(store->word(para::BRIGHTNESS), 40);
    para::set16(store->ram_para, para::BRIGHTNESS, 20);
    message_deal().REG_mcu_flag(11, 0x02);
    EXPECT_EQ(store->word(para::BRIGHTNESS), 20);
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 0);
}

TEST_F(SyncUpdateTest, SnapshotTakesWhatAnApplyPassApplied)
{
    InstalledChip installed;
    const uint32_t src = para::window(0, para::WIN_SOURCE);
    const uint16_t source = store->word(src);
    const uint16_t contrast = store->word(para::CONTRAST);
    const uint16_t saturation = store->word(para::SATURATION);

    // The keypad's source key (a request) and a RAM write (none), notified
    // in the GUI thread before the chip thread runs: stored, not in the snapshot.
    store->ZemSetImageSource(0, 3, 0);
    const uint8_t c[2] = {uint8_t(contrast + 7), 0};
    store->ZemRamParaDeal(c, 2, para::CONTRAST);
    store->test_signal(1);
    EXPECT_EQ(static_cast<uint8_t>(readFile(paraFile())[2 + src - para::PERSISTENT_START]), 3);
    EXPECT_EQ(para::get16(store->ram_para_back, src), source);
    EXPECT_EQ(para::get16(store->ram_para_back, para::CONTRAST), contrast);

    // The pass takes both; a write lands before its notification is handled.
    installed.pass();
    const uint8_t sat[2] = {uint8_t(saturation + 5), 0};
    store->ZemRamParaDeal(sat, 2, para::SATURATION);
    QCoreApplication::processEvents();
    EXPECT_EQ(para::get16(store->ram_para_back, src), 3);
    EXPECT_EQ(para::get16(store->ram_para_back, para::CONTRAST), contrast + 7);
    EXPECT_EQ(para::get16(store->ram_para_back, para::SATURATION), saturation);
    sync->para_sync(12);
    EXPECT_EQ(para::get16(store->ram_para_back, para::SATURATION), saturation);
}

TEST_F(SyncUpdateTest, PersistenceWaitsForAWriterHoldingTheImageLock)
{
    // The image is copied whole under its lock: a writer in its hand-shake
    // finishes first, and the file and the snapshot then hold its change.
    auto lock = std::make_unique<ParaLock>();
    store->ram_para[para::UNUSED_770] = 0x66;
    BlockedCall gui_side([this] { sync->para_sync(1); });
    EXPECT_TRUE(gui_side.waits());
    lock.reset();
    ASSERT_TRUE(gui_side.finishes());
    EXPECT_EQ(static_cast<uint8_t>(readFile(paraFile())[2 + para::UNUSED_770 - para::PERSISTENT_START]), 0x66);
}

} // namespace
