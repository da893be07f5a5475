// Every page of the front panel, offscreen, in each of the five languages:
// no label or button text is cut off, no widget lies outside the 320 x 240
// panel, and the number keyboard keeps clear of a page's title and Back.

#include "ui/panel_fixture.h"

#include "ui/advancedoption.h"
#include "ui/confirmdialog.h"
#include "ui/firmwareupdate.h"
#include "ui/imagequality.h"
#include "ui/input/custommode.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/inputchoose.h"
#include "ui/input/inputcut.h"
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

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <functional>

using namespace zemtest;

namespace {

// What is wrong with one window and its widgets, as readable lines.
QStringList layoutFaults(QWidget *top)
{
    QStringList faults;
    const QString where = QString::fromLatin1(top->metaObject()->className());
    if (top->width() > ui::PANEL_W || top->height() > ui::PANEL_H)
        faults << where + QStringLiteral(" is %1x%2").arg(top->width()).arg(top->height());
    for (QWidget *w : top->findChildren<QWidget *>()) {
        if (w->isWindow() || !w->isVisibleTo(top))
            continue;
        const QRect r(w->mapTo(top, QPoint(0, 0)), w->size());
        if (!top->rect().contains(r))
            faults << where + QStringLiteral(": a %1 lies outside the panel").arg(QString::fromLatin1(w->metaObject()->className()));
        const QFontMetrics fm(w->font());
        if (auto *l = qobject_cast<QLabel *>(w)) {
            const QRect c = l->contentsRect();
            const bool fits = l->wordWrap() ? l->heightForWidth(c.width()) <= c.height()
                                            : fm.horizontalAdvance(l->text()) <= c.width() && fm.height() <= c.height();
            if (!l->text().isEmpty() && !fits)
                faults << where + QStringLiteral(": label \"%1\" is cut off").arg(l->text());
        } else if (auto *b = qobject_cast<QPushButton *>(w)) {
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            const QRect c = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
            if (fm.horizontalAdvance(b->text()) > c.width() || fm.height() > c.height())
                faults << where + QStringLiteral(": button \"%1\" is cut off").arg(b->text());
        } else if (auto *e = qobject_cast<QLineEdit *>(w)) {
            if (fm.horizontalAdvance(e->text()) > e->width() - 6 || fm.height() > e->height())
                faults << where + QStringLiteral(": field \"%1\" is cut off").arg(e->text());
        }
    }
    return faults;
}

// Empty when the window fits; else its faults, one a line.
std::string shownFaults(QWidget *top)
{
    top->show();
    QCoreApplication::processEvents();
    return layoutFaults(top).join(QLatin1Char('\n')).toStdString();
}

struct PageCase {
    const char *name;
    std::function<QWidget *(MainWindow *)> open;
};

template <class T> PageCase page(const char *name)
{
    return {name, [](MainWindow *w) -> QWidget * { return new T(w); }};
}

class PageLayoutTest : public PanelTest
{
protected:
    // A crop of source 2 and a long note, so that the crop page shows all it can.
    static QWidget *cropPageWithNote(MainWindow *w)
    {
        CROP_PARA c{0, 10, 20, 640, 360};
        ZemRamPara::p_zemrampara_config->ZemAddNewCrop(2, &c);
        auto *page = new InputCut(w);
        page->fields()[2]->confirmString(QStringLiteral("9999"));
        page->addCrop();
        return page;
    }
    // Two windows enabled: Next says that no pattern can be shown.
    static QWidget *patternPageRefusing(MainWindow *w)
    {
        uint8_t *img = ZemRamPara::p_zemrampara_config->ram_para;
        para::set16(img, para::window(0, para::WIN_ENABLE), 1);
        para::set16(img, para::window(1, para::WIN_ENABLE), 1);
        auto *page = new test_chart(w);
        page->next();
        para::set16(img, para::window(1, para::WIN_ENABLE), 0);
        return page;
    }
};

TEST_F(PageLayoutTest, EveryPageFitsThePanelInEveryLanguage)
{
    const std::vector<PageCase> pages = {
        page<LockWindow>("status"), page<MachineState>("state"), page<InputChoose>("input"),
        page<CustomMode>("user modes"), page<Option>("setting"), page<OutputSet>("output"),
        {"crop", cropPageWithNote}, page<EDIDset>("EDID"), page<ImageLayout>("layout"),
        page<LinkOption>("link"), page<ImageQuality>("picture"), page<AdvancedOption>("advanced"),
        page<ledset>("LED wall"), page<netset>("ports"), page<lcdshow>("LCD"), page<test_chart>("test pattern"),
        {"test pattern refused", patternPageRefusing},
        page<othersetup>("other"), page<factory>("factory"), page<quality>("quality"),
        page<temperature>("colour temperature"), page<linkcom>("serial"), page<linkwlan>("Ethernet"),
        page<factoryage>("ageing"), page<SmartMapping>("mapping"), page<rcv_recovery>("recovery"),
        page<firmware_usbgrade>("USB upgrade"),
        {"reset question", [](MainWindow *w) -> QWidget * {
             auto *f = new factory(w);
             f->show();
             f->askReset();
             return f->findChild<ConfirmDialog *>();
         }},
        {"upgrade pop-up", [](MainWindow *w) -> QWidget * { return new FirmwareUpdate(w); }},
    };
    for (uint8_t lang = 0; lang < 5; ++lang) {
        g_language = lang;
        MainWindow *w = startPanel();
        w->show();
        EXPECT_EQ(shownFaults(w), "") << "language " << int(lang);
        for (const PageCase &c : pages) {
            QWidget *p = c.open(w);
            ASSERT_NE(p, nullptr) << c.name;
            EXPECT_EQ(shownFaults(p), "") << c.name << ", language " << int(lang);
            delete p;
        }
        for (int kind : {1, 3, 4, 5}) {
            QTimer::singleShot(0, [kind] {
                EXPECT_TRUE(layoutFaults(g_tip).isEmpty()) << "notice " << kind;
                g_tip->done(0);
            });
            TIP::tip_create(kind);
        }
        delete w;
        QCoreApplication::processEvents();
    }
}

TEST_F(PageLayoutTest, NumberKeyboardKeepsClearOfTitleAndBack)
{
    MainWindow *w = startPanel();
    w->show();
    for (const PageCase &c : {page<InputCut>("crop"), page<EDIDset>("EDID"), page<ledset>("LED wall"),
                              page<quality>("quality"), page<linkwlan>("Ethernet")}) {
        auto *p = static_cast<PanelPage *>(c.open(w));
        p->show();
        QCoreApplication::processEvents();
        My_lineEdit *field = p->findChild<My_lineEdit *>();
        ASSERT_NE(field, nullptr) << c.name;
        g_numberkeyboard->start(field, field->text());
        QCoreApplication::processEvents();
        const QRect keys = g_numberkeyboard->frameGeometry();
        for (QWidget *x : p->findChildren<QWidget *>()) {
            const bool title = x == p->findChild<QLabel *>();
            const bool back = qobject_cast<QPushButton *>(x) && static_cast<QPushButton *>(x)->text() == QStringLiteral("Back");
            if (title || back) {
                EXPECT_FALSE(keys.intersects(QRect(x->mapToGlobal(QPoint(0, 0)), x->size()))) << c.name;
            }
        }
        EXPECT_TRUE(layoutFaults(g_numberkeyboard).isEmpty()) << c.name;
        g_numberkeyboard->press(QStringLiteral("ESC"));
        delete p;
    }
}

// A note line ("Saved", a refused value) appears under the fields without
// moving them: a touch aimed at a field still lands on it.
TEST_F(PageLayoutTest, NoteLineMovesNoField)
{
    MainWindow *w = startPanel();
    w->show();
    // A value typed into a field (with the keyboard's OK), then a button.
    const struct {
        std::function<PanelPage *()> open;
        int field;
        const char *typed;
        const char *button;
    } pages[] = {
        {[w] { return new InputCut(w); }, 2, "9999", "Add"},
        {[w] { return new ledset(w); }, 0, "0", "Save"},
        {[w] { return new ledset(w); }, 0, "1920", "Splice mode"},
        {[w] { return new EDIDset(w); }, 2, "200", "Save"},
        {[w] { return new quality(w); }, 0, "101", nullptr},
        {[w] { return new linkwlan(w); }, 0, "1.2.3", "OK"},
    };
    for (const auto &c : pages) {
        PanelPage *page = c.open();
        page->show();
        QCoreApplication::processEvents();
        const auto where = [page] {
            QList<QRect> out;
            for (My_lineEdit *f : page->findChildren<My_lineEdit *>())
                out << QRect(f->mapTo(page, QPoint(0, 0)), f->size());
            return out;
        };
        const QList<QRect> before = where();
        const int lines = page->shownLines().size();
        page->findChildren<My_lineEdit *>()[c.field]->confirmString(QString::fromLatin1(c.typed));
        if (c.button)
            EXPECT_TRUE(page->clickButton(QString::fromLatin1(c.button)));
        QCoreApplication::processEvents();
        EXPECT_EQ(page->shownLines().size(), lines + 1) << page->metaObject()->className();
        EXPECT_EQ(where(), before) << page->metaObject()->className() << ": " << page->shownLines().join(QLatin1Char('|')).toStdString();
        delete page;
    }
}

} // namespace
