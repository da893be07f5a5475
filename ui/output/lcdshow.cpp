#include "ui/output/lcdshow.h"

#include "app/global.h"
#include "ui/pages.h"

lcdshow::lcdshow(QWidget *parent) : PanelPage(parent, page::LcdShow, page::AdvancedOption)
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
    // The panel returns to the status screen after this time without a key or a touch.
    QStringList out;
    out << ui::tr5("自动锁定: %1 s", "Auto lock: %1 s", "Автоблокировка: %1 с", "Tự khóa: %1 s", "自動鎖定: %1 s").arg(g_auto_lock_time / 1000);
    return out;
}

void lcdshow::syncUpdate()
{
    refreshFromImage();
}
