// Names of 32 characters from the alias file on every screen that shows
// one, in all five languages: a name gives way with an ellipsis, the text
// after it stays whole and every line fits its widget.

#include "ui/panel_fixture.h"

#include "ui/input/custommode.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/inputchoose.h"
#include "ui/input/inputcut.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"

#include <QLabel>
#include <QRegularExpression>
#include <QPushButton>
#include <functional>
#include <string>

using namespace zemtest;

namespace {

const QChar ELLIPSIS(0x2026);

struct Language {
    int id;
    const char *name;       // 32 characters
    const char *noSignal;   // as the screens say it
    const char *on;         // a window that is on, on the layout page
};

const Language LANGUAGES[] = {
    {0, "主舞台左侧摄像机主舞台左侧摄像机主舞台左侧摄像机主舞台左侧摄像机", "无信号", "开"},
    {1, "Main stage camera left side wide", "no signal", "on"},
    {2, "Камера слева у большой сцены №12", "нет сигнала", "вкл"},
    {3, "Máy quay sân khấu chính bên trái", "không tín hiệu", "bật"},
    {4, "主舞台左側攝影機主舞台左側攝影機主舞台左側攝影機主舞台左側攝影機", "無信號", "開"},
};

class LongNamesTest : public PanelTest
{
protected:
    // Every input, window, user mode and crop named `name`.
    void nameEverything(const std::string &name)
    {
        std::string list;
        for (const char *kind : {"source", "win", "usermode", "crop"}) {
            list += std::string(list.empty() ? "" : ",") + "\"" + kind + "\":[";
            for (int id = 0; id < 16; ++id)
                list += std::string(id ? "," : "") + "{\"id\":\"" + std::to_string(id) + "\",\"valid\":\"on\",\"name\":\"" + name + "\"}";
            list += "]";
        }
        writeFile(root.host("/data/configs/alias.json"), "{\"namelist\":{" + list + "}}");
    }
    // Inputs 0-4 carry 1920x1080@60, input 5 no signal.
    void plugInputs()
    {
        for (uint32_t s = 0; s < 5; ++s) {
            const uint16_t t[3] = {1920, 1080, 60};
            for (uint32_t k = 0; k < 3; ++k)
                para::set16(store->ram_para, para::timing_record(s) + 2 * k, t[k]);
        }
    }
    // The texts the page shows, each checked to fit its widget.
    static QStringList shownFitting(QWidget *page, const char *what)
    {
        page->show();
        QCoreApplication::processEvents();
        QStringList texts;
        for (QLabel *l : page->findChildren<QLabel *>())
            if (l->isVisible() && !l->text().isEmpty()) {
                EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->contentsRect().width()) << what << ": " << qPrintable(l->text());
                texts << l->text();
            }
        for (QPushButton *b : page->findChildren<QPushButton *>())
            if (b->isVisible() && b->window() == page) {
                EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->contentsRect().width()) << what << ": " << qPrintable(b->text());
                texts << b->text();
            }
        return texts;
    }
    // How many texts end with `tail` and hold `name`, whole or as its first
    // characters (one at least) and an ellipsis.
    static int endingWith(const QStringList &texts, const QString &name, const QString &tail)
    {
        int n = 0;
        for (const QString &t : texts) {
            bool named = t.contains(name);
            for (int k = 1; k < name.size() && !named; ++k)
                named = t.contains(name.left(k) + ELLIPSIS);
            n += named && t.endsWith(tail);
        }
        return n;
    }
};

TEST_F(LongNamesTest, NamesGiveWayToTheRestOfTheirLineOnEveryScreenInEveryLanguage)
{
    enableWindow(0);
    para::set16(store->ram_para, para::CURRENT_USER_MODE, 1);
    const uint16_t win[4] = {0, 0, 1920, 1080};
    for (uint32_t k = 0; k < 4; ++k)
        para::set16(store->ram_para, para::window(0, para::WIN_X) + 2 * k, win[k]);
    const uint16_t edid[3] = {1920, 1080, 60};
    for (uint32_t k = 0; k < 3; ++k)
        para::set16(store->ram_para, para::edid_record(0) + 2 * k, edid[k]);
    plugInputs();
    CROP_PARA crop{0, 0, 0, 960, 1080};
    store->ZemAddNewCrop(2, &crop);   // window 1's source
    MainWindow *home = startPanel();

    for (const Language &lang : LANGUAGES) {
        SCOPED_TRACE(lang.id);
        g_language = lang.id;
        nameEverything(lang.name);
        const QString name = QString::fromUtf8(lang.name);
        const QString noSignal = QString::fromUtf8(lang.noSignal), on = QString::fromUtf8(lang.on);
        home->language_changed();
        QStringList t = shownFitting(home, "home");
        EXPECT_EQ(endingWith(t, name, QStringLiteral(" 1920x1080@60")), 1) << "home";
        EXPECT_EQ(endingWith(t, name, QString()), 3) << "home: window, source and user mode";

        t = shownFitting(new LockWindow(home), "status");
        EXPECT_EQ(endingWith(t, name, QStringLiteral(" 1920x1080@60")), 1) << "status";

        // Two inputs a line, each with its state.
        t = shownFitting(new MachineState(home), "state");
        EXPECT_EQ(endingWith(t, name, QStringLiteral(" 1920x1080@60")), 2) << "state";
        EXPECT_EQ(endingWith(t, name, QLatin1Char(' ') + noSignal), 1) << "state";
        EXPECT_EQ(t.filter(QStringLiteral(" 1920x1080@60 ")).size(), 3) << "state: the first input of each line";

        t = shownFitting(new InputChoose(home), "source");
        EXPECT_EQ(endingWith(t, name, QStringLiteral(" 1920x1080@60")), 1) << "source";
        EXPECT_EQ(endingWith(t, name, QString()), 8) << "source: window, source line and six buttons";

        t = shownFitting(new CustomMode(home), "user modes");
        EXPECT_EQ(endingWith(t, name, QString()), 2) << "user modes: current and chosen";

        t = shownFitting(new ImageLayout(home), "layout");
        EXPECT_EQ(endingWith(t, name, QStringLiteral(": %1 0,0 1920x1080").arg(on)), 1) << "layout";

        t = shownFitting(new EDIDset(home), "edid");
        EXPECT_EQ(endingWith(t, name, QStringLiteral(": 1920x1080@60")), 1) << "edid";

        t = shownFitting(new InputCut(home), "crop");
        EXPECT_EQ(endingWith(t, name, QStringLiteral(" 1920x1080@60")), 1) << "crop";
        EXPECT_EQ(endingWith(t, name, QStringLiteral(": 0,0 960x1080")), 1) << "crop";
        EXPECT_EQ(t.filter(QRegularExpression(QStringLiteral("^1/1 "))).size(), 1) << "crop";

        for (QWidget *page : home->findChildren<PanelPage *>(QString(), Qt::FindDirectChildrenOnly))
            delete page;
    }
}

} // namespace
