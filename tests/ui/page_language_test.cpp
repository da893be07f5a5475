// A page in front follows a language the PC tool sets: the change dispatcher
// re-texts it at once, as if it had been opened in the new language.

#include "ui/panel_fixture.h"

#include "ui/advancedoption.h"
#include "ui/imagequality.h"
#include "ui/linkoption.h"
#include "ui/option.h"
#include "ui/output/lcdshow.h"
#include "ui/output/netset.h"
#include "ui/output/quality.h"
#include "ui/output/temperature.h"
#include "ui/outputset.h"

#include <functional>
#include <string>

namespace {

using namespace zemtest;

using PageLanguageTest = PanelTest;

TEST_F(PageLanguageTest, PageInFrontIsRetextedWhenTheLanguageChanges)
{
    MainWindow *w = startPanel();
    const struct {
        const char *name;
        std::function<PanelPage *()> open;
    } pages[] = {
        {"setting", [w] { return new Option(w); }},          {"output", [w] { return new OutputSet(w); }},
        {"link", [w] { return new LinkOption(w); }},         {"picture", [w] { return new ImageQuality(w); }},
        {"advanced", [w] { return new AdvancedOption(w); }}, {"ports", [w] { return new netset(w); }},
        {"lcd", [w] { return new lcdshow(w); }},             {"quality", [w] { return new quality(w); }},
        {"temperature", [w] { return new temperature(w); }},
    };
    for (const auto &p : pages) {
        store->ram_para[para::LANGUAGE] = store->ram_para_back[para::LANGUAGE] = 1;
        g_language = 1;
        PanelPage *page = p.open();
        const std::string english = page->buttonTexts().join('|').toStdString();
        store->ram_para[para::LANGUAGE] = 2;
        sync->para_sync(1);
        const std::string shown = page->buttonTexts().join('|').toStdString();
        page->language_changed();   // as the page draws itself in Russian
        EXPECT_EQ(shown, page->buttonTexts().join('|').toStdString()) << p.name;
        EXPECT_NE(shown, english) << p.name;
        page->closePage();
        QCoreApplication::processEvents();
    }
}

} // namespace
