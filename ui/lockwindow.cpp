#include "ui/lockwindow.h"

#include "app/global.h"
#include "ui/mainwindow.h"
#include "ui/pages.h"

LockWindow::LockWindow(QWidget *parent) : PanelPage(parent, page::Lock, page::Main)
{
    registerPage(g_lockwindow);
    language_changed();
}

QString LockWindow::titleText() const
{
    return ui::tr5("状态", "Status", "Состояние", "Trạng thái", "狀態");
}

QStringList LockWindow::valueLines() const
{
    QStringList out;
    for (int w = 0; w < static_cast<int>(para::WINDOW_COUNT); ++w) {
        if (!(ui::word(para::window(w, para::WIN_ENABLE)) & 1))
            continue;
        const int s = ui::windowSource(w);
        out << fitLine(QStringLiteral("%1: %2 %3"), {ui::nameArg(ui::windowName(w)), ui::nameArg(ui::sourceName(s)), ui::inputTiming(s)});
    }
    const uint16_t mode = ui::word(para::CURRENT_USER_MODE);
    out << fitLine(ui::tr5("用户模式: %1", "User mode: %1", "Режим: %1", "Chế độ: %1", "用戶模式: %1"),
                   {ui::nameArg(mode >= 1 && mode <= para::MODE_COUNT ? ui::userModeName(mode - 1) : QStringLiteral("-"))});
    return out.mid(0, 7);
}

void LockWindow::syncUpdate()
{
    refreshFromImage();
}

void LockWindow::goBack()
{
    // The status screen is kept; unlocking only hides it.
    hide();
    g_page_focus = page::Main;
    if (g_mainwindow)
        g_mainwindow->syncUpdate();
}

void LockWindow::keyPressEvent(QKeyEvent *)
{
    goBack();
}

void LockWindow::mousePressEvent(QMouseEvent *)
{
    goBack();
}
