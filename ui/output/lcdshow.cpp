#include "ui/output/lcdshow.h"

#include "app/global.h"
#include "ui/pages.h"

lcdshow::lcdshow(QWidget *parent) : PanelPage(parent, 15, 12)
{
    registerPage(g_lcdshow);
    addBackButton();
    language_changed();
}

QString lcdshow::titleText() const
{
    return ui::tr5("液晶屏", "LCD", "ЖК-экран", "Màn LCD", "液晶屏");
}

QStringList lcdshow::valueLines() const
{
    QStringList out;
    out << ui::tr5("自动锁定: %1 s", "Auto lock: %1 s", "Автоблокировка: %1 с", "Tự khóa: %1 s", "自動鎖定: %1 s").arg(g_auto_lock_time / 1000);
    out << ui::tr5("返回状态: %1 s", "Back to status: %1 s", "Возврат: %1 с", "Về trạng thái: %1 s", "返回狀態: %1 s").arg(g_back_to_mainwindow_time / 1000);
    return out;
}

void lcdshow::syncUpdate()
{
    refreshFromImage();
}
