// The front panel's side of the calls the worker threads make: each is
// queued to the GUI thread and looks at the page in front there (the picture
// is taken in the GUI thread by its callers).

#include "app/front_panel.h"

#include "app/global.h"
#include "protocol/gui_call.h"
#include "ui/advancedoption.h"
#include "ui/mainwindow.h"
#include "ui/option.h"
#include "ui/output/smartmapping.h"
#include "ui/pages.h"
#include "ui/panelpicture.h"
#include "ui/system/rcv_recovery.h"

#include <QApplication>
#include <QBuffer>

namespace front_panel {

namespace {

// Runs `work` on page `id` when it is in front and open.
template <class Page, class Work> void onPage(page::Id id, Page *const &pointer, Work work)
{
    gui_call::post([id, &pointer, work] {
        if (g_page_focus.load() == id && pointer)
            (pointer->*work)();
    });
}

} // namespace

QByteArray picture_png()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !ui::panelPicture().save(&buffer, "PNG"))
        return {};
    return png;
}

// Requests of several links may reach the GUI thread in another order than
// they changed g_update_flag: each one acts only when the flag still says
// so, and the pop-up ends as the flag is.
void show_upgrade_popup()
{
    gui_call::post([] {
        if (g_mainwindow && g_update_flag.load())
            g_mainwindow->update_start();
    });
}

void hide_upgrade_popup()
{
    gui_call::post([] {
        if (g_mainwindow && !g_update_flag.load())
            g_mainwindow->update_over();
    });
}

void close_setting_menu() { onPage(page::Option, g_option, &Option::slot_Button_back_clicked); }

void close_mapping_page() { onPage(page::SmartMapping, g_smartmapping, &SmartMapping::Button_back_clicked); }

void close_recovery_page() { onPage(page::RcvRecovery, g_rcv_recovery, &rcv_recovery::menulist_back_page); }

void retext_setting_menu() { onPage(page::Option, g_option, &Option::language_changed); }

void retext_advanced_menu() { onPage(page::AdvancedOption, g_advancedoption, &AdvancedOption::language_changed); }

} // namespace front_panel
