// The front-panel framework: the 10 ms tick, the home and status screens,
// the keypad, notices, the upgrade pop-up and page navigation.

#include "ui/panel_fixture.h"
#include "support/blocked_call.h"
#include "support/full_disk.h"

#include "app/config_engine.h"
#include "app/front_panel.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "protocol/message_deal.h"
#include "ui/advancedoption.h"
#include "ui/imagequality.h"
#include "ui/input/custommode.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/inputchoose.h"
#include "ui/input/inputcut.h"
#include "ui/QRoundProgressBar.h"
#include "ui/firmwareupdate.h"
#include "ui/linkoption.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/output/lcdshow.h"
#include "ui/output/ledset.h"
#include "ui/output/netset.h"
#include "ui/output/quality.h"
#include "ui/output/smartmapping.h"
#include "ui/output/temperature.h"
#include "ui/output/test_chart.h"
#include "ui/outputset.h"
#include "ui/system/factory.h"
#include "ui/system/factoryage.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/system/linkcom.h"
#include "ui/system/linkwlan.h"
#include "ui/system/othersetup.h"
#include "ui/system/rcv_recovery.h"
#include "ui/tip.h"
#include "ui/zem_keyboard.h"

#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

using namespace zemtest;

namespace {

class PanelFrameworkTest : public PanelTest
{
protected:
    int shellCount(const std::string &cmd)
    {
        const auto log = platform::shell::sim::log();
        return static_cast<int>(std::count(log.begin(), log.end(), cmd));
    }
    QPushButton *button(QWidget *page, const QString &text)
    {
        for (QPushButton *b : page->findChildren<QPushButton *>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
};

TEST_F(PanelFrameworkTest, TickRebootsOnce300TicksAfterTheRequest)
{
    MainWindow w;
    g_mainwindow = &w;
    G_timeTicks = 5000;
    w.slot_update_timer_ticks();
    EXPECT_EQ(shellCount("reboot"), 0);

    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
    for (int i = 0; i < 299; ++i)
        w.slot_update_timer_ticks();
    EXPECT_EQ(shellCount("reboot"), 0);
    w.slot_update_timer_ticks();
    EXPECT_EQ(shellCount("reboot"), 1);
    for (int i = 0; i < 10; ++i)
        w.slot_update_timer_ticks();
    EXPECT_EQ(shellCount("reboot"), 1);
    g_mainwindow = nullptr;
}

TEST_F(PanelFrameworkTest, TickReleasesTheUsbListenerAndSamplesTheAgeingLog)
{
    MainWindow w;
    g_mainwindow = &w;
    G_timeTicks = 998;
    g_delay_usbserver = 0;
    w.slot_update_timer_ticks();
    EXPECT_EQ(g_delay_usbserver, 0);
    w.slot_update_timer_ticks();
    EXPECT_EQ(g_delay_usbserver, 1);

    factoryage_log.clear();
    G_timeTicks = 2 * MainWindow::AGEING_TICKS - 2;
    w.slot_update_timer_ticks();
    EXPECT_TRUE(factoryage_log.empty());
    w.slot_update_timer_ticks();
    ASSERT_EQ(factoryage_log.size(), 1u);
    EXPECT_TRUE(factoryage_log[0].startsWith(QStringLiteral("6 min")));
    w.slot_update_timer_ticks();
    EXPECT_EQ(factoryage_log.size(), 1u);
    g_mainwindow = nullptr;
}

TEST_F(PanelFrameworkTest, ScreensGrabAsPanelSizedImages)
{
    MainWindow *w = startPanel();
    w->show();
    auto *lock = new LockWindow(w);
    lock->show();
    EXPECT_EQ(g_page_focus, 0);
    EXPECT_EQ(g_lockwindow, lock);
    const QImage home = w->grab().toImage();
    const QImage status = lock->grab().toImage();
    EXPECT_EQ(home.size(), QSize(320, 240));
    EXPECT_EQ(status.size(), QSize(320, 240));
    EXPECT_EQ(g_numberkeyboard->width(), 160);

    // A key on the status screen brings the home screen forward.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(lock, &key);
    EXPECT_EQ(g_page_focus, 1);
    EXPECT_FALSE(lock->isVisible());
}

// The capture the PC tool reads is the panel as its screen shows it, on any
// platform: the window shown or raised last lies on top, and each window is
// drawn as it stands now, also before the screen got to repaint it.
TEST_F(PanelFrameworkTest, ScreenCaptureShowsWhatLiesOnTopAsItStandsNow)
{
    const auto drawn = [](QWidget *window) { return window->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    const auto captured = [this] {
        EXPECT_EQ(screen_capture::take(), screen_capture::Result::Taken);
        return QImage(QString::fromStdString(root.host("/123.png"))).convertToFormat(QImage::Format_RGB32);
    };
    MainWindow *w = startPanel();
    w->show();
    auto *lock = new LockWindow(w);
    lock->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(captured() == drawn(lock)) << "the status screen over the home screen";

    lock->goBack();
    para::set16(store->ram_para, para::BRIGHTNESS, 42);   // as the PC tool sets it
    sync->para_sync(1);
    ASSERT_TRUE(w->shownLines().contains(QStringLiteral("Brightness: 42"))) << w->shownLines().join('|').toStdString();
    EXPECT_TRUE(captured() == drawn(w)) << "the home screen with the brightness in force";

    w->open_setting();
    auto *led = new ledset(g_option);
    led->show();
    auto *field = led->findChild<My_lineEdit *>();
    ASSERT_NE(field, nullptr);
    g_numberkeyboard->start(field, field->text());
    QImage keyboardOverPage = drawn(led);
    QPainter(&keyboardOverPage).drawImage(g_numberkeyboard->pos() - led->pos(), drawn(g_numberkeyboard));
    EXPECT_TRUE(captured() == keyboardOverPage) << "the number keyboard over the page that opened it";

    w->lock_panel();   // the status screen, shown before the page and the keyboard, is on top again
    EXPECT_TRUE(captured() == drawn(lock)) << "the status screen after the auto lock";
}

TEST_F(PanelFrameworkTest, StatusScreenShowsEnabledWindowsAndRetextsOnLanguageChange)
{
    MainWindow *w = startPanel();
    store->ram_para[para::LANGUAGE] = store->ram_para_back[para::LANGUAGE] = 1;
    auto *lock = new LockWindow(w);
    enableWindow(1);
    para::set16(store->ram_para, para::window(1, para::WIN_SOURCE), 2);
    para::set16(store->ram_para, para::INPUT_TIMING + 12, 1280);
    para::set16(store->ram_para, para::INPUT_TIMING + 14, 720);
    para::set16(store->ram_para, para::INPUT_TIMING + 16, 60);
    sync->para_sync(12);
    EXPECT_TRUE(lock->shownLines().contains(QStringLiteral("Window 2: HDMI3 1280x720@60"))) << lock->shownLines().join('|').toStdString();

    store->ram_para[para::LANGUAGE] = 4;   // traditional Chinese
    sync->para_sync(1);
    EXPECT_EQ(g_language, 4);
    EXPECT_TRUE(lock->shownLines().contains(QString::fromUtf8("窗口2: HDMI3 1280x720@60")));
}

TEST_F(PanelFrameworkTest, InputTimingIsReadAsOneRecordUnderItsLock)
{
    // The source manager rewrites the records under input_timing_mutex; the
    // screens read a record whole, never a width of one signal and a height
    // of the next.
    QString text;
    pthread_mutex_lock(&store->input_timing_mutex);
    BlockedCall read([&text] { text = ui::inputTiming(2); });
    EXPECT_TRUE(read.waits());
    const uint16_t record[3] = {1280, 720, 60};
    for (uint32_t k = 0; k < 3; ++k)
        para::set16(store->ram_para, para::INPUT_TIMING + 12 + 2 * k, record[k]);
    pthread_mutex_unlock(&store->input_timing_mutex);
    ASSERT_TRUE(read.finishes());
    EXPECT_EQ(text, QStringLiteral("1280x720@60"));
}

// The links, the chip thread and the source thread write the image under its
// locks while the panel shows it. Every read of a page takes the same locks:
// a page drawn while a writer holds them shows what the writer leaves, not
// what was there before (nor half of it). The cases build on each other.
TEST_F(PanelFrameworkTest, PagesReadTheImageUnderItsLocks)
{
    MainWindow *w = startPanel();
    enableWindow(0);   // showing source 2
    const uint16_t rect[4] = {100, 50, 640, 360};
    for (int k = 0; k < 4; ++k)
        store->setWord(para::CROP_TABLE + 2 + 2 * k, rect[k]);   // entry 0, not in use yet
    const struct {
        const char *read;
        std::function<PanelPage *()> open;
        std::function<void()> write;
        const char *shown;
    } cases[] = {
        {"word", [w] { return new ImageQuality(w); }, [this] { store->setWord(para::BRIGHTNESS, 40); }, "Brightness: 40"},
        {"byte", [w] { return new ledset(w); }, [this] { store->ram_para[para::LED_SPLICE] = 2; }, "Splice: vertical"},
        {"crop count", [w] { return new InputChoose(w); }, [this] { store->setWord(para::CROP_TABLE, para::CROP_USED | 2); },
         "Crops: 1"},
        {"crop", [w] { return new InputCut(w); }, [this] { store->setWord(para::CROP_TABLE + 6, 800); },
         "1/1 Crop 1: 100,50 800x360"},
        {"saved modes", [w] { return new CustomMode(w); },
         [this] { store->user_mode_ram[2][0] = store->user_mode_ram[2][1] = 0xAA; }, "Saved: 3"},
        {"current mode", [w] { return new CustomMode(w); }, [this] { store->setWord(para::CURRENT_USER_MODE, 3); },
         "Current: 3"},
        {"window source", [w] { return new LockWindow(w); },
         [this] { store->setWord(para::window(0, para::WIN_SOURCE), 5); }, "Window 1: HDMI6 no signal"},
    };
    for (const auto &c : cases) {
        PanelPage *page = c.open();
        std::promise<void> held;
        std::thread writer([&] {
            ParaLock lock;   // as the chip thread writes back (the links also take the input-timing lock)
            held.set_value();
            // Time for a read that does not wait for the locks to go by.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            c.write();
        });
        held.get_future().wait();
        page->language_changed();   // draws the page from the image
        writer.join();
        EXPECT_TRUE(page->shownLines().contains(QString::fromLatin1(c.shown)))
            << c.read << ": " << page->shownLines().join(QLatin1Char('|')).toStdString();
        page->closePage();
        QCoreApplication::processEvents();
    }
}

TEST_F(PanelFrameworkTest, KeypadLettersSelectWindowsAndChangeTheCurrentOne)
{
    MainWindow *w = startPanel();
    Q_UNUSED(w);
    g_zem_keys = 1;
    enableWindow(1);
    QKeyEvent b(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier);
    QCoreApplication::sendEvent(g_mainwindow, &b);
    EXPECT_EQ(g_image_current, 1);

    // K shows source 3 (index 2), M freezes, N blacks out.
    EXPECT_TRUE(zem_keyboard::update_usb_keyEvent(Qt::Key_K));
    EXPECT_EQ(store->word(para::window(1, para::WIN_SOURCE)), 2);
    zem_keyboard::update_usb_keyEvent(Qt::Key_M);
    zem_keyboard::update_usb_keyEvent(Qt::Key_N);
    EXPECT_EQ(store->word(para::window(1, para::WIN_FLAGS)), para::WIN_FLAG_FREEZE | para::WIN_FLAG_BLACK);
    EXPECT_EQ(c331_manage::p_c331_manage->para_changed, 1);

    // Key lock: letters are taken but change nothing.
    para::set16(store->ram_para, para::KEY_LOCK, 1);
    EXPECT_TRUE(zem_keyboard::update_usb_keyEvent(Qt::Key_G));
    EXPECT_EQ(store->word(para::window(1, para::WIN_SOURCE)), 2);
    EXPECT_FALSE(zem_keyboard::update_usb_keyEvent(Qt::Key_Q));
}

TEST_F(PanelFrameworkTest, KeypadProbeSeesOnlyAPluggedKeypad)
{
    EXPECT_EQ(check_hiddev(), 0);
    platform::hid::sim::setPresent(true);
    EXPECT_EQ(check_hiddev(), 1);
    EXPECT_EQ(platform::hid::sim::openCount(), 0);
}

TEST_F(PanelFrameworkTest, UpgradePopUpFromAnotherThreadIsShownByTheGuiThread)
{
    MainWindow *w = startPanel();
    std::thread t([w] { w->update_start(); });
    t.join();
    ASSERT_TRUE(waitFor([] { return firmware_update_popup() != nullptr; }));
    ASSERT_NE(g_qround_bar, nullptr);
    w->update_start();   // a second start keeps the same pop-up
    FirmwareUpdate *popup = firmware_update_popup();

    g_update_flag = 1;
    const int start = g_qround_bar->value();
    EXPECT_TRUE(waitFor([start] { return g_qround_bar->value() != start; }));
    EXPECT_EQ(firmware_update_popup(), popup);

    std::thread t2([w] { w->update_over(); });
    t2.join();
    EXPECT_TRUE(waitFor([] { return firmware_update_popup() == nullptr; }));
    EXPECT_EQ(g_qround_bar, nullptr);
    g_update_flag = 0;
}

// On, off and on again faster than the GUI thread deletes the first pop-up:
// the second keeps its progress widget and the tick steps it. Requests that
// arrive out of order leave the pop-up as the flag is.
TEST_F(PanelFrameworkTest, UpgradePopUpSwitchedOnOffOnKeepsStepping)
{
    MainWindow *w = startPanel();
    g_update_flag = 1;
    w->update_start();
    w->update_over();
    w->update_start();
    FirmwareUpdate *popup = firmware_update_popup();
    ASSERT_NE(popup, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);   // the first one goes
    ASSERT_EQ(g_qround_bar, popup->bar());
    const int start = popup->bar()->value();
    EXPECT_TRUE(waitFor([popup, start] { return popup->bar()->value() != start; }));

    front_panel::hide_upgrade_popup();   // an off overtaken by a later on
    QCoreApplication::processEvents();
    EXPECT_EQ(firmware_update_popup(), popup);
    g_update_flag = 0;
    front_panel::hide_upgrade_popup();
    front_panel::show_upgrade_popup();   // an on overtaken by a later off
    EXPECT_TRUE(waitFor([] { return firmware_update_popup() == nullptr; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(firmware_update_popup(), nullptr);
    EXPECT_EQ(g_qround_bar, nullptr);
}

TEST_F(PanelFrameworkTest, NoticeTimesOutWithTheTickAndIgnoresUnknownKinds)
{
    startPanel();
    const int before = TIP::shownCount();
    TIP::tip_create(2);
    TIP::tip_create(9);
    EXPECT_EQ(TIP::shownCount(), before);
    const uint32_t t0 = G_timeTicks.load();
    TIP::tip_create(3);
    EXPECT_GE(G_timeTicks.load() - t0, 300u);
    EXPECT_EQ(g_tip->text(), QStringLiteral("USB stick inserted"));
    EXPECT_EQ(g_tip_flag, 0);
}

TEST_F(PanelFrameworkTest, SettingMenuOpensAndClosesItsPages)
{
    MainWindow *w = startPanel();
    w->open_setting();
    ASSERT_NE(g_option, nullptr);
    EXPECT_EQ(g_page_focus, 5);

    QPushButton *mapping = button(g_option, QStringLiteral("Mapping"));
    ASSERT_NE(mapping, nullptr);
    mapping->click();
    ASSERT_NE(g_smartmapping, nullptr);
    EXPECT_EQ(g_page_focus, 24);

    // Stick storage ready: the mapping files are listed.
    platform::ensureDir("/mnt/usb1");
    writeFile(root.host("/mnt/usb1/wall.qyfile"), "x");
    writeFile(root.host("/mnt/usb1/notes.txt"), "x");
    sync->para_sync(102);
    EXPECT_EQ(g_smartmapping->files(), QStringList{QStringLiteral("wall.qyfile")});

    // While the progress widget is up the page stays.
    QRoundProgressBar bar;
    g_qround_bar = &bar;
    bar.show();
    g_smartmapping->Button_back_clicked();
    EXPECT_NE(g_smartmapping, nullptr);
    g_qround_bar = nullptr;
    g_smartmapping->Button_back_clicked();
    EXPECT_EQ(g_smartmapping, nullptr);
    EXPECT_EQ(g_page_focus, 5);

    g_option->slot_Button_back_clicked();
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_page_focus, 1);
}

// Back leaves every page for the one it is opened from; the page's pointer
// is cleared with it.
TEST_F(PanelFrameworkTest, EveryPageHasItsBack)
{
    MainWindow *w = startPanel();
    struct Case {
        std::function<PanelPage *()> open;
        int back;
        std::function<bool()> closed;
    };
    const auto page = [w](auto *&global, int back) {
        using T = std::remove_reference_t<decltype(*global)>;
        return Case{[w] { return new T(w); }, back, [&global] { return global == nullptr; }};
    };
    const Case pages[] = {
        page(g_machinestate, 1), page(g_inputchoose, 1), page(g_custommode, 1), page(g_option, 1),
        page(g_outputset, 5), page(g_inputcut, 5), page(g_edidset, 5), page(g_imagelayout, 5), page(g_linkoption, 5),
        page(g_imagequality, 5), page(g_advancedoption, 5), page(g_smartmapping, 5),
        page(g_ledset, 6), page(g_netset, 6), page(g_test_chart, 6), page(g_linkcom, 10), page(g_linkwlan, 10),
        page(g_quality, 11), page(g_temperature, 11), page(g_lcdshow, 12), page(g_othersetup, 12), page(g_factory, 12),
        page(g_factoryage, 12), page(g_rcv_recovery, 12), page(g_firmware_usbgrade, 12),
    };
    for (const Case &c : pages) {
        PanelPage *p = c.open();
        const int id = p->pageId();
        EXPECT_EQ(g_page_focus, id);
        ASSERT_TRUE(p->clickButton(QStringLiteral("Back"))) << "page " << id;
        EXPECT_EQ(g_page_focus, c.back) << "page " << id;
        EXPECT_TRUE(c.closed()) << "page " << id;
        QCoreApplication::processEvents();
    }
}

TEST_F(PanelFrameworkTest, AdvancedMenuOpensEachOfItsPages)
{
    writeFile(root.host("/data/rcvrecovery/card1"), "x");   // recovery is offered only with a file
    MainWindow *w = startPanel();
    auto *menu = new AdvancedOption(w);
    const struct {
        const char *button;
        int page;
    } buttons[] = {{"Card recovery", 25}, {"LCD", 15}, {"Other", 17}, {"Factory", 18}, {"Ageing log", 23}, {"USB upgrade", 26}};
    for (const auto &b : buttons) {
        ASSERT_TRUE(menu->clickButton(QString::fromLatin1(b.button))) << b.button;
        EXPECT_EQ(g_page_focus, b.page) << b.button;
        PanelPage *opened = nullptr;
        for (PanelPage *p : menu->findChildren<PanelPage *>())
            if (p->isVisible())
                opened = p;
        ASSERT_NE(opened, nullptr) << b.button;
        EXPECT_EQ(opened->pageId(), b.page) << b.button;
        opened->closePage();
        EXPECT_EQ(g_page_focus, 12);
        QCoreApplication::processEvents();
    }
}

// The USB upgrade page in front hears the stick (its files are listed) and
// the end of an upgrade.
TEST_F(PanelFrameworkTest, UsbUpgradePageHearsTheStickAndTheResult)
{
    MainWindow *w = startPanel();
    auto *page = new firmware_usbgrade(w);
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("No upgrade file on the stick")));
    platform::ensureDir("/mnt/usb1");
    writeFile(root.host("/mnt/usb1/app.ZEM"), "x");
    sync->para_sync(102);
    EXPECT_EQ(page->files(), QStringList{QStringLiteral("app.ZEM")});
    EXPECT_FALSE(page->shownLines().contains(QStringLiteral("Upgrade finished")));
    sync->para_sync(104);
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Upgrade finished")));
}

// Return presses the focused button of the home screen, as on the pages.
TEST_F(PanelFrameworkTest, ReturnPressesTheFocusedHomeButton)
{
    MainWindow *w = startPanel();
    w->show();
    QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(button(w, QStringLiteral("Setting")), &ret);
    EXPECT_EQ(g_page_focus, 5);
    EXPECT_NE(g_option, nullptr);
}

TEST_F(PanelFrameworkTest, InputPageSetsTheSourceOfTheCurrentWindow)
{
    MainWindow *w = startPanel();
    enableWindow(0);
    w->open_input();
    ASSERT_NE(g_inputchoose, nullptr);
    QPushButton *hdmi5 = button(g_inputchoose, QStringLiteral("HDMI5"));
    ASSERT_NE(hdmi5, nullptr);
    hdmi5->click();
    EXPECT_EQ(store->word(para::window(0, para::WIN_SOURCE)), 4);
}

TEST_F(PanelFrameworkTest, FactoryResetRestoresDefaultsAndAsksForTheUserModeCheck)
{
    store->ram_para[para::UNUSED_770] = 1;
    store->user_mode_ram[4][0] = store->user_mode_ram[4][1] = 0xAA;
    factory::factory_reset();
    EXPECT_EQ(store->ram_para[para::UNUSED_770], default_para_ramlist[2 + para::UNUSED_770 - para::PERSISTENT_START]);
    EXPECT_EQ(store->user_mode_ram[4][0], 0xFF);
    EXPECT_EQ(c331_manage::p_c331_manage->para_changed, 2);
    EXPECT_EQ(g_set_led_para, 1);
    g_set_led_para = 0;
}

TEST_F(PanelFrameworkTest, RecoveryPageReturnsToTheAdvancedMenu)
{
    MainWindow *w = startPanel();
    auto *page = new rcv_recovery(w);
    EXPECT_EQ(g_page_focus, 25);
    writeFile(root.host("/data/rcvrecovery/card1"), "x");
    sync->para_sync(99);
    EXPECT_EQ(page->files().size(), 1);
    page->menulist_back_page();
    EXPECT_EQ(g_rcv_recovery, nullptr);
    EXPECT_EQ(g_page_focus, 12);
}

// The upgrade ring: a circle of radius 42 around (50, 50), its arc running
// clockwise from 12 o'clock over the share done, the rest the grey track.
TEST_F(PanelFrameworkTest, ProgressRingDrawsItsArcClockwiseFromTheTop)
{
    const struct {
        int value;
        QPoint at;
        bool arc;
    } cases[] = {{50, {92, 50}, true}, {50, {8, 50}, false}, {100, {8, 50}, true}, {10, {92, 50}, false}};
    for (const auto &c : cases) {
        QRoundProgressBar bar;
        bar.setValue(c.value);
        QImage img(bar.size(), QImage::Format_ARGB32);
        img.fill(Qt::white);
        bar.render(&img);
        const QColor px = img.pixelColor(c.at);
        const bool blue = px.blue() > px.red() + 100;
        const bool grey = qAbs(px.blue() - px.red()) < 30 && px.red() < 200;
        EXPECT_TRUE(c.arc ? blue : grey) << c.value << "% at " << c.at.x() << "," << c.at.y() << ": " << px.name().toStdString();
    }
}

// The keyboard opens on the field's value selected, as a page opens its
// first field: the first key replaces it. Back in the field after OK, Escape
// or the field's own Return, its text is selected again.
TEST_F(PanelFrameworkTest, NumberKeyboardHandsItsTextToTheLineEdit)
{
    startPanel();
    My_lineEdit edit;
    const auto typeInField = [&edit](const char *digit) {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_0 + (digit[0] - '0'), Qt::NoModifier, QString::fromLatin1(digit));
        QCoreApplication::sendEvent(&edit, &e);
    };
    const struct {
        const char *offered;
        std::vector<const char *> keys;
        const char *result;
    } cases[] = {{"50", {"2", "8", "OK"}, "28"}, {"19", {"DEL", "2", ".", "5", "OK"}, "2.5"}, {"27", {"ESC"}, "27"}};
    for (const auto &c : cases) {
        edit.setText(QString::fromLatin1(c.offered));
        g_numberkeyboard->start(&edit, edit.text());
        // The keyboard's window comes to the front as on the panel.
        QApplication::setActiveWindow(g_numberkeyboard);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        for (const char *k : c.keys)
            g_numberkeyboard->press(QString::fromLatin1(k));
        EXPECT_EQ(edit.text().toStdString(), c.result);
        EXPECT_FALSE(g_numberkeyboard->isVisible());
        typeInField("6");
        EXPECT_EQ(edit.text().toStdString(), "6") << c.offered;
    }
    QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(&edit, &ret);
    typeInField("3");
    EXPECT_EQ(edit.text().toStdString(), "3");

    // The keys of a keyboard work as its own: digits, Backspace, Return for OK.
    g_numberkeyboard->start(&edit, QString());
    QWidget *keysTo = g_numberkeyboard->focusWidget() ? g_numberkeyboard->focusWidget() : g_numberkeyboard;
    const struct {
        int key;
        const char *text;
    } keys[] = {{Qt::Key_7, "7"}, {Qt::Key_9, "9"}, {Qt::Key_Backspace, ""}, {Qt::Key_5, "5"}, {Qt::Key_Return, "\r"}};
    for (const auto &k : keys) {
        QKeyEvent e(QEvent::KeyPress, k.key, Qt::NoModifier, QString::fromLatin1(k.text));
        QCoreApplication::sendEvent(keysTo, &e);
    }
    EXPECT_EQ(edit.text().toStdString(), "75");
}

TEST_F(PanelFrameworkTest, HomeScreenUserModeSaveGoesThroughTheRefresh)
{
    MainWindow *w = startPanel();
    g_page_focus = 1;
    w->user_mode_request(2, true);
    EXPECT_EQ(store->word(para::USER_MODE_SAVE), 2);
    EXPECT_TRUE(w->notice_pending);
    sync->para_sync(1);
    EXPECT_FALSE(w->notice_pending);
    EXPECT_TRUE(platform::files::exists("/data/modes/custom_mode2"));
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 2);
}

} // namespace

namespace {

class EthernetPageTest : public zemtest::PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        ConfigEngine::resetInstance();
        ASSERT_NE(ConfigEngine::pInstance(), nullptr);
        platform::shell::sim::clearLog();
    }
    void TearDown() override
    {
        ConfigEngine::resetInstance();
        PanelTest::TearDown();
    }
};

TEST_F(EthernetPageTest, ApplyStoresOnlyDottedAddresses)
{
    for (const char *bad : {"10.0.0", "10.0.0.256", "10.0.0.1; reboot", "+1.2.3.4", ""})
        EXPECT_EQ(linkwlan::apply(QString::fromLatin1(bad), QStringLiteral("255.255.255.0"), QStringLiteral("10.0.0.1")),
                  linkwlan::Applied::Invalid)
            << bad;
    EXPECT_TRUE(platform::shell::sim::log().empty());
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), QStringLiteral("192.168.0.199"));

    EXPECT_EQ(linkwlan::apply(QStringLiteral("10.0.0.7"), QStringLiteral("255.255.0.0"), QStringLiteral("10.0.0.1")),
              linkwlan::Applied::Done);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), QStringLiteral("10.0.0.7"));
    const auto log = platform::shell::sim::log();
    EXPECT_NE(std::find(log.begin(), log.end(), "ifconfig eth0 10.0.0.7 netmask 255.255.0.0 up"), log.end());
}

TEST_F(EthernetPageTest, OkSaysSavedUntilTheNextEdit)
{
    MainWindow *w = startPanel();
    auto *page = new linkwlan(w);
    const QList<My_lineEdit *> fields = page->findChildren<My_lineEdit *>();
    ASSERT_EQ(fields.size(), 3);
    fields[0]->confirmString(QStringLiteral("10.0.0.7"));
    page->ok();
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), QStringLiteral("10.0.0.7"));
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Saved")));
    fields[1]->confirmString(QStringLiteral("255.0.0.0"));
    EXPECT_FALSE(page->shownLines().contains(QStringLiteral("Saved")));
}

// On a full disk nothing changes: the interface keeps the address a restart gives it.
TEST_F(EthernetPageTest, AddressTheFileCannotTakeIsNotApplied)
{
    zemtest::FullDisk disk(root.host("/data/configs"));
    if (!disk.ok())
        GTEST_SKIP() << "no mount namespace of its own for this test";
    ASSERT_TRUE(disk.fill());
    EXPECT_EQ(linkwlan::apply(QStringLiteral("10.0.0.7"), QStringLiteral("255.255.0.0"), QStringLiteral("10.0.0.1")),
              linkwlan::Applied::NotStored);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), QStringLiteral("192.168.0.199"));
    EXPECT_TRUE(platform::shell::sim::log().empty());
}

} // namespace
