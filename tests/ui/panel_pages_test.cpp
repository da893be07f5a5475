// The pages a person works with: crops, EDID, the LED wall, test patterns,
// picture values, colour presets, the language, user modes, the factory reset, alias names,
// the auto lock and the simulation's status file.

#include "ui/panel_fixture.h"
#include "support/blocked_call.h"

#include "app/para_lock.h"
#include "app/utils.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "ui/confirmdialog.h"
#include "ui/input/custommode.h"
#include "ui/input/edidset.h"
#include "ui/input/inputchoose.h"
#include "ui/input/inputcut.h"
#include "ui/lockwindow.h"
#include "ui/numberkeyboard.h"
#include "ui/option.h"
#include "ui/output/ledset.h"
#include "ui/output/quality.h"
#include "ui/output/temperature.h"
#include "ui/output/test_chart.h"
#include "ui/system/factory.h"
#include "ui/system/linkwlan.h"
#include "ui/system/othersetup.h"
#include "ui/tip.h"

#include <QKeyEvent>
#include <QPushButton>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

using namespace zemtest;

namespace {

class PanelPagesTest : public PanelTest
{
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        g_zem_max_pixel = 13107200;
    }
    void TearDown() override
    {
        g_set_led_para = 0;
        PanelTest::TearDown();
    }
    // Enters values with the number keyboard's OK, as a user does.
    static void fill(const QList<My_lineEdit *> &fields, const QStringList &values)
    {
        for (int i = 0; i < values.size(); ++i)
            fields[i]->confirmString(values[i]);
    }
    uint16_t cropWord(int entry, int field) { return store->word(para::CROP_TABLE + 10 * entry + 2 * field); }
    uint8_t &apply() { return c331_manage::p_c331_manage->para_changed; }
    std::vector<uint16_t> ramWords(uint32_t off, int n) const
    {
        std::vector<uint16_t> out;
        for (int i = 0; i < n; ++i)
            out.push_back(store->word(off + 2 * uint32_t(i)));
        return out;
    }
    std::vector<uint8_t> image() const { return std::vector<uint8_t>(store->ram_para, store->ram_para + para::IMAGE_SIZE); }
    // Keys of a keyboard, as they reach the widget that has the focus.
    static void type(QWidget *to, const QString &text)
    {
        for (QChar c : text) {
            QKeyEvent e(QEvent::KeyPress, c == QLatin1Char('.') ? Qt::Key_Period : Qt::Key_0 + c.digitValue(), Qt::NoModifier, c);
            QCoreApplication::sendEvent(to, &e);
        }
    }
    // Shows a page in front, as the panel's window manager would.
    static void showInFront(QWidget *page)
    {
        page->show();
        QApplication::setActiveWindow(page);
    }
    static void pressReturn(QWidget *to)
    {
        QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QCoreApplication::sendEvent(to, &ret);
    }
    // Types `text` into a field in place of what it held, then Return.
    static void typeAndReturn(QLineEdit *field, const QString &text)
    {
        field->clear();
        type(field, text);
        pressReturn(field);
    }
    // The question shown over a page (a closed one waits for its deletion).
    static ConfirmDialog *question(QWidget *page)
    {
        for (ConfirmDialog *d : page->findChildren<ConfirmDialog *>())
            if (d->isVisible())
                return d;
        return nullptr;
    }
};

TEST_F(PanelPagesTest, CropPageAddsEditsDeletesAndSaysWhatItRefuses)
{
    MainWindow *w = startPanel();
    auto *page = new InputCut(w);
    ASSERT_EQ(page->source(), 2);   // the source of window 1
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("No crops")));

    fill(page->fields(), {"100", "50", "640", "360"});
    page->addCrop();
    EXPECT_EQ(cropWord(0, 0), 0x8002);
    EXPECT_EQ(cropWord(0, 3), 640);
    EXPECT_EQ(apply(), 1);
    EXPECT_EQ(page->chosen(), 1);
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("1/1 Crop 1: 100,50 640x360")));

    // Refused: outside the source (no signal: its EDID's 1920 x 1080), not a number, no size.
    const struct {
        QStringList values;
        const char *note;
    } refused[] = {{{"100", "50", "1900", "360"}, "Outside the source 1920x1080"},
                   {{"1.5", "0", "10", "10"}, "Enter whole numbers"},
                   {{"0", "0", "0", "10"}, "Outside the source 1920x1080"}};
    for (const auto &r : refused) {
        fill(page->fields(), r.values);
        page->saveCrop();
        EXPECT_TRUE(page->shownLines().contains(QString::fromLatin1(r.note))) << r.note;
        EXPECT_EQ(cropWord(0, 3), 640) << r.note;
    }

    // Reaching the source's right and bottom edges is inside it.
    fill(page->fields(), {"1280", "360", "640", "720"});
    page->saveCrop();
    EXPECT_EQ(ramWords(1474, 4), (std::vector<uint16_t>{1280, 360, 640, 720}));

    fill(page->fields(), {"100", "50", "800", "360"});
    page->saveCrop();
    EXPECT_EQ(cropWord(0, 3), 800);

    // A window showing the crop shows its source again once the crop is deleted.
    store->setWord(para::window(3, para::WIN_SOURCE), para::WIN_SOURCE_CROP + 0);
    page->deleteCrop();
    EXPECT_EQ(cropWord(0, 0) & para::CROP_USED, 0);
    EXPECT_EQ(store->word(para::window(3, para::WIN_SOURCE)), 2);
    EXPECT_EQ(page->chosen(), 0);
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Deleted")));

    for (int i = 0; i < 40; ++i) {
        CROP_PARA c{0, 0, 0, 10, 10};
        store->ZemAddNewCrop(2, &c);
    }
    fill(page->fields(), {"0", "0", "10", "10"});
    page->addCrop();
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("All 40 crops are in use")));
}

TEST_F(PanelPagesTest, LedPageSavesTheWallAndRaisesTheHandshakeAndTheApply)
{
    MainWindow *w = startPanel();
    auto *page = new ledset(w);
    fill(page->fields(), {"8000", "2000"});   // 16 million pixels
    page->save();
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Over 13107200 pixels")));
    fill(page->fields(), {"0", "1080"});
    page->save();
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Enter width and height")));
    EXPECT_EQ(apply(), 0);
    EXPECT_EQ(g_set_led_para, 0);

    fill(page->fields(), {"2560", "1440"});
    page->nextSplice();   // copy -> vertical
    EXPECT_EQ(page->splice(), 2);
    page->save();
    EXPECT_EQ(store->ram_para[para::LED_SPLICE], 2);
    EXPECT_EQ(store->word(para::LED_WIDTH), 2560);
    EXPECT_EQ(store->word(para::LED_HEIGHT), 1440);
    EXPECT_EQ(g_set_led_para, 1);
    EXPECT_EQ(apply(), 1);
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Splice: vertical")));

    // "Saved" lasts until the next edit: a digit typed is not stored yet.
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Saved")));
    type(page->fields()[0], QStringLiteral("1"));
    EXPECT_FALSE(page->shownLines().contains(QStringLiteral("Saved")));
}

// The chip shows a pattern on a single window only: with two windows enabled
// Next stores no pattern and says why; with one it steps, and Off ends it.
TEST_F(PanelPagesTest, TestPatternIsRefusedWhileMoreThanOneWindowIsEnabled)
{
    MainWindow *w = startPanel();
    enableWindow(0);
    enableWindow(3);
    auto *page = new test_chart(w);
    page->next();
    EXPECT_EQ(store->ram_para[para::TEST_PATTERN], 0);
    EXPECT_EQ(apply(), 0);
    EXPECT_EQ(page->shownLines().join(QLatin1Char('|')).toStdString(), "Off|Cannot show: more than one window enabled");

    enableWindow(3, false);
    page->next();
    page->next();
    EXPECT_EQ(store->ram_para[para::TEST_PATTERN], 2);
    EXPECT_EQ(apply(), 1);
    EXPECT_EQ(page->shownLines().join(QLatin1Char('|')).toStdString(), "Pattern: 2");
    enableWindow(3);
    page->off();
    EXPECT_EQ(store->ram_para[para::TEST_PATTERN], 0);
}

TEST_F(PanelPagesTest, EdidPageStoresTheChosenInput)
{
    MainWindow *w = startPanel();
    auto *page = new EDIDset(w);
    // An edit left unsaved stays with its input: the next one shows its own record.
    fill(page->fields(), {"800", "600", "30"});
    page->nextPort();
    QStringList shown;
    for (My_lineEdit *f : page->fields())
        shown << f->text();
    EXPECT_EQ(shown, (QStringList{"1920", "1080", "60"}));
    fill(page->fields(), {"1280", "720", "200"});
    page->save();
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Size 64-4095, rate 24-120 Hz")));
    EXPECT_EQ(store->word(para::EDID_BASE + 6 + 4), 60);

    fill(page->fields(), {"1280", "720", "50"});
    page->save();
    EXPECT_EQ(store->word(para::EDID_BASE + 6), 1280);
    EXPECT_EQ(store->word(para::EDID_BASE + 8), 720);
    EXPECT_EQ(store->word(para::EDID_BASE + 10), 50);
    EXPECT_EQ(apply(), 1);
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Input HDMI2: 1280x720@50")));

    // On to the last input, record 5 at 926, and round to the first again.
    for (int i = 0; i < 4; ++i)
        page->nextPort();
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Input HDMI6: 3840x2160@60")));
    fill(page->fields(), {"2560", "1440", "30"});
    page->save();
    EXPECT_EQ(ramWords(926, 3), (std::vector<uint16_t>{2560, 1440, 30}));
    page->nextPort();
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Input HDMI1: 1920x1080@60")));
}

TEST_F(PanelPagesTest, PictureValuesStepOrAreTypedWithinTheirRange)
{
    MainWindow *w = startPanel();
    auto *page = new quality(w);
    page->step(para::BRIGHTNESS, 1);   // already 100
    page->step(para::CONTRAST, 1);
    page->step(para::SHARPNESS, -1);
    page->enter(para::SATURATION, QStringLiteral("75"));
    page->enter(para::SATURATION, QStringLiteral("101"));
    EXPECT_EQ(store->word(para::BRIGHTNESS), 100);
    EXPECT_EQ(store->word(para::CONTRAST), 51);
    EXPECT_EQ(store->word(para::SHARPNESS), 9);
    EXPECT_EQ(store->word(para::SATURATION), 75);
    EXPECT_EQ(page->fields()[3]->text(), QStringLiteral("75"));
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Enter 0 to 100")));
    EXPECT_EQ(apply(), 1);
}

// Return in a field is the field's own OK: it never presses a button of the
// page as well (a dialog's first button would be its default).
TEST_F(PanelPagesTest, ReturnInANumberFieldChangesNothingButTheField)
{
    MainWindow *w = startPanel();
    const struct {
        std::function<PanelPage *()> open;
        const char *typed;
        std::vector<uint32_t> stored;   // the setting each field stores on Return, if any
    } pages[] = {
        {[w] { return new quality(w); }, "60", {para::BRIGHTNESS, para::CONTRAST, para::SHARPNESS, para::SATURATION}},
        {[w] { return new ledset(w); }, "1200", {}},
        {[w] { return new EDIDset(w); }, "1280", {}},
        {[w] { return new InputCut(w); }, "100", {}},
        {[w] { return new linkwlan(w); }, "10.0.0.5", {}},
    };
    for (const auto &p : pages) {
        PanelPage *page = p.open();
        page->show();
        const QList<My_lineEdit *> fields = page->findChildren<My_lineEdit *>();
        ASSERT_FALSE(fields.isEmpty());
        for (int i = 0; i < fields.size(); ++i) {
            const QString typed = QString::fromLatin1(p.typed);
            std::vector<uint8_t> want = image();
            if (size_t(i) < p.stored.size())
                para::set16(want.data(), p.stored[size_t(i)], static_cast<uint16_t>(typed.toUInt()));
            const std::string lines = page->shownLines().join(QLatin1Char('|')).toStdString();

            typeAndReturn(fields[i], typed);
            QCoreApplication::processEvents();
            const std::string where = page->metaObject()->className() + std::string(" field ") + std::to_string(i);
            EXPECT_TRUE(image() == want) << where;
            EXPECT_EQ(page->shownLines().join(QLatin1Char('|')).toStdString(), lines) << where;
            EXPECT_EQ(fields[i]->text().toStdString(), typed.toStdString()) << where;
        }
        page->closePage();
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(platform::shell::sim::log().empty());
}

// The first digit typed on a page with number fields goes into its first
// field; a digit typed while a button has the focus changes nothing.
TEST_F(PanelPagesTest, NumberPagesOpenOnTheirFirstField)
{
    store->setWord(para::BRIGHTNESS, 62);
    MainWindow *w = startPanel();
    w->show();
    for (PanelPage *page : std::initializer_list<PanelPage *>{new ledset(w), new EDIDset(w), new InputCut(w), new linkwlan(w)}) {
        showInFront(page);
        EXPECT_EQ(QApplication::focusWidget(), page->findChild<My_lineEdit *>()) << page->metaObject()->className();
        page->closePage();
    }

    auto *page = new quality(w);
    showInFront(page);
    type(QApplication::focusWidget(), QStringLiteral("5"));
    pressReturn(QApplication::focusWidget());
    EXPECT_EQ(store->word(para::BRIGHTNESS), 5);

    const std::vector<uint8_t> before = image();
    auto *plus = page->findChildren<QPushButton *>()[1];
    plus->setFocus();
    type(plus, QStringLiteral("7"));
    EXPECT_TRUE(image() == before);
    EXPECT_EQ(page->fields()[0]->text(), QStringLiteral("5"));
}

// A field the user has not edited shows the value in force (the PC tool
// changes it while the field has the focus); Return writes only an edit, and
// an edit stays through the next refresh.
TEST_F(PanelPagesTest, FieldsShowTheValueInForceUntilTheUserEditsThem)
{
    const QString ip = g_str_ip;
    MainWindow *w = startPanel();
    w->show();
    const struct {
        std::function<PanelPage *()> open;
        int field;
        std::function<void(bool)> pcTool;   // changes the value behind the field (first or second time)
        const char *shown;
        const char *typed;
    } pages[] = {
        {[w] { return new quality(w); }, 0, [this](bool again) { store->setWord(para::BRIGHTNESS, again ? 70 : 66); }, "66", "40"},
        {[w] { return new ledset(w); }, 1, [this](bool again) { store->setWord(para::LED_HEIGHT, again ? 900 : 720); }, "720", "1200"},
        {[w] { return new EDIDset(w); }, 2, [this](bool again) { store->setWord(para::EDID_BASE + 4, again ? 30 : 50); }, "50", "24"},
        // No crop yet: a new crop is the whole source, its EDID's size while it has no signal.
        {[w] { return new InputCut(w); }, 2, [this](bool again) { store->setWord(para::EDID_BASE + 12, again ? 800 : 1280); }, "1280", "640"},
        {[w] { return new linkwlan(w); }, 0, [](bool again) {
             std::lock_guard<std::mutex> lock(g_config_text_mutex);
             g_str_ip = again ? QStringLiteral("10.9.9.9") : QStringLiteral("10.1.2.3");
         }, "10.1.2.3", "10.0.0.9"},
    };
    for (const auto &p : pages) {
        PanelPage *page = p.open();
        const char *name = page->metaObject()->className();
        showInFront(page);
        My_lineEdit *field = page->findChildren<My_lineEdit *>()[p.field];
        field->setFocus();
        p.pcTool(false);
        sync->para_sync(1);
        EXPECT_TRUE(waitFor([&] { return field->text() == QString::fromLatin1(p.shown); })) << name << " shows " << field->text().toStdString();

        apply() = 0;
        const std::vector<uint8_t> before = image();
        pressReturn(field);
        EXPECT_TRUE(image() == before) << name;
        EXPECT_EQ(apply(), 0) << name;

        field->clear();
        type(field, QString::fromLatin1(p.typed));
        p.pcTool(true);
        sync->para_sync(1);
        QCoreApplication::processEvents();
        EXPECT_EQ(field->text().toStdString(), p.typed) << name;
        page->closePage();
        QCoreApplication::processEvents();
    }
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    g_str_ip = ip;
}

TEST_F(PanelPagesTest, ColourTemperatureShowsItsPresetByName)
{
    MainWindow *w = startPanel();
    auto *page = new temperature(w);
    QStringList seen;
    for (int i = 0; i < 4; ++i) {
        seen << page->shownLines().join(QLatin1Char('|'));
        page->nextPreset();
    }
    EXPECT_EQ(seen, (QStringList{"Preset: natural", "Preset: cool", "Preset: custom|R 64  G 64  B 64", "Preset: warm"}));
    EXPECT_EQ(store->word(para::COLOR_TEMP), 2);
}

TEST_F(PanelPagesTest, LanguageChoiceOffersTheEnabledOnesStoresItAndRetextsEveryPage)
{
    g_lcd_lang_valid = 0x10007;   // simplified Chinese, English, Russian
    MainWindow *w = startPanel();
    w->show();
    w->open_setting();
    auto *page = new othersetup(g_option);
    page->show();
    QStringList offered;
    for (QPushButton *b : page->findChildren<QPushButton *>())
        if (b->isVisible())
            offered << b->text();
    EXPECT_TRUE(offered.contains(QStringLiteral("Русский")));
    EXPECT_FALSE(offered.contains(QString::fromUtf8("Tiếng Việt")));
    EXPECT_FALSE(othersetup::choose_language(3));

    ASSERT_TRUE(page->clickButton(QStringLiteral("Русский")));
    EXPECT_EQ(g_language, 2);
    EXPECT_EQ(store->ram_para[para::LANGUAGE], 2);
    EXPECT_EQ(uint8_t(readFile(paraFile())[2]), 2);   // stored
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Язык: Русский")));
    EXPECT_TRUE(g_option->buttonTexts().contains(QStringLiteral("Назад")));
    EXPECT_TRUE(w->shownLines().contains(QStringLiteral("Яркость: 100")));
}

TEST_F(PanelPagesTest, FactoryResetAsksFirstAndSaysWhenTheResetIsStored)
{
    MainWindow *w = startPanel();
    auto *page = new factory(w);
    page->show();
    store->ram_para[para::UNUSED_770] = 1;
    page->askReset();
    ASSERT_NE(question(page), nullptr);
    question(page)->cancel();
    EXPECT_EQ(apply(), 0);
    EXPECT_EQ(store->ram_para[para::UNUSED_770], 1);

    page->askReset();
    ASSERT_NE(question(page), nullptr);
    question(page)->confirm();
    EXPECT_EQ(apply(), 2);
    EXPECT_TRUE(page->resetPending());

    // A notification before the apply pass took the reset says nothing.
    const int notices = TIP::shownCount();
    sync->para_sync(12);
    QCoreApplication::processEvents();
    EXPECT_EQ(TIP::shownCount(), notices);
    // The chip's pass: request cleared, code 2 stored by the dispatcher.
    apply() = 0;
    sync->para_sync(2);
    EXPECT_TRUE(waitFor([&] { return !page->resetPending(); }));
    EXPECT_EQ(TIP::shownCount(), notices + 1);
}

TEST_F(PanelPagesTest, UserModeSaveShowsOnHomeAndDeleteEmptiesTheSlotAfterAConfirmation)
{
    MainWindow *w = startPanel();
    g_page_focus = 1;
    w->user_mode_request(3, true);
    sync->para_sync(1);
    EXPECT_TRUE(w->shownLines().contains(QStringLiteral("User mode: 3")));
    ASSERT_TRUE(platform::files::exists("/data/modes/custom_mode3"));

    auto *page = new CustomMode(w);
    showInFront(page);
    page->choose(4);
    page->askDelete();   // mode 4 is not saved
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("This mode is not saved")));
    EXPECT_EQ(question(page), nullptr);

    page->choose(3);
    page->askDelete();
    ASSERT_NE(question(page), nullptr);
    EXPECT_EQ(question(page)->question(), QStringLiteral("Delete user mode 3?"));
    // The question takes the keyboard, on its Cancel.
    EXPECT_TRUE(waitFor([&] {
        auto *b = qobject_cast<QPushButton *>(QApplication::focusWidget());
        return b && b->window() == question(page) && b->text() == QStringLiteral("Cancel");
    }));
    // Cancel keeps the mode; asked again, Confirm deletes it.
    qobject_cast<QPushButton *>(QApplication::focusWidget())->click();
    EXPECT_TRUE(waitFor([&] { return question(page) == nullptr; }));
    EXPECT_TRUE(platform::files::exists("/data/modes/custom_mode3"));
    page->askDelete();
    ASSERT_NE(question(page), nullptr);
    question(page)->confirm();
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode3"));
    EXPECT_FALSE(store->ZemUserModeSaved(2));
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 0);
    EXPECT_TRUE(page->shownLines().contains(QStringLiteral("Current: -")));
}

// Deleting the mode in use clears the current-mode word under the image's
// lock: while another thread holds it the word stays.
TEST_F(PanelPagesTest, UserModeDeleteClearsTheCurrentModeUnderTheImageLock)
{
    MainWindow *w = startPanel();
    g_page_focus = 1;
    w->user_mode_request(5, true);
    sync->para_sync(1);
    ASSERT_EQ(store->word(para::CURRENT_USER_MODE), 5);
    auto lock = std::make_unique<ParaLock>();
    BlockedCall call([] { CustomMode::deleteMode(5); });
    EXPECT_TRUE(call.waits());
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 5);
    lock.reset();
    EXPECT_TRUE(call.finishes());
    EXPECT_EQ(store->word(para::CURRENT_USER_MODE), 0);
    EXPECT_FALSE(store->ZemUserModeSaved(4));
}

TEST_F(PanelPagesTest, ScreensShowTheAliasNames)
{
    writeFile(root.host("/data/configs/alias.json"),
              R"({"filename":"/data/configs/alias.json","namelist":{
                 "source":[{"id":"2","valid":"on","name":"Studio"},{"id":"3","valid":"off","name":"Hidden"}],
                 "usermode":[{"id":"1","valid":"on","name":"Show"}],
                 "win":[{"id":"0","valid":"on","name":"Main"}],
                 "crop":[{"id":"0","valid":"on","name":"Left"}]}})");
    enableWindow(0);
    MainWindow *w = startPanel();
    auto *lock = new LockWindow(w);
    EXPECT_TRUE(lock->shownLines().contains(QStringLiteral("Main: Studio no signal")));
    EXPECT_TRUE(w->shownLines().contains(QStringLiteral("Source: Studio no signal")));
    auto *input = new InputChoose(w);
    EXPECT_TRUE(input->buttonTexts().contains(QStringLiteral("Studio")));
    EXPECT_TRUE(input->buttonTexts().contains(QStringLiteral("HDMI4")));
    auto *modes = new CustomMode(w);
    modes->choose(2);
    EXPECT_TRUE(modes->shownLines().contains(QStringLiteral("Chosen: Show")));
    CROP_PARA c{0, 0, 0, 960, 1080};
    store->ZemAddNewCrop(2, &c);
    auto *crops = new InputCut(w);
    EXPECT_TRUE(crops->shownLines().contains(QStringLiteral("1/1 Left: 0,0 960x1080")));
}

TEST_F(PanelPagesTest, AutoLockBringsTheStatusScreenBackAfterTheIdleTime)
{
    platform::ensureDir("/sim");
    MainWindow *w = startPanel();
    w->show();
    auto *lock = new LockWindow(w);
    lock->goBack();
    w->open_setting();
    ASSERT_NE(g_option, nullptr);
    const std::string status = root.host("/sim/status");
    EXPECT_TRUE(waitFor([&] { return readFile(status) == "page_focus 5\nlockwindow hidden\n"; }));

    g_auto_lock_time = 200;   // 20 ticks
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(g_option, &key);
    EXPECT_TRUE(waitFor([&] { return lock->isVisible(); }));
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_page_focus, 0);
    EXPECT_TRUE(waitFor([&] { return readFile(status) == "page_focus 0\nlockwindow shown\n"; }));
}

} // namespace
