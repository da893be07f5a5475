#include "ui/output/ledset.h"

#include "app/global.h"
#include "ui/pages.h"

ledset::ledset(QWidget *parent) : PanelPage(parent, 13, 6)
{
    registerPage(g_ledset);
    addBackButton();
    language_changed();
}

QString ledset::titleText() const
{
    return ui::tr5("屏幕设置", "LED wall", "Экран", "Màn hình", "屏幕設置");
}

QStringList ledset::valueLines() const
{
    QStringList out;
    out << ui::tr5("宽x高: %1x%2", "Size: %1x%2", "Размер: %1x%2", "Kích thước: %1x%2", "寬x高: %1x%2")
               .arg(ui::word(para::LED_WIDTH)).arg(ui::word(para::LED_HEIGHT));
    out << ui::tr5("起点: %1,%2", "Start: %1,%2", "Начало: %1,%2", "Điểm đầu: %1,%2", "起點: %1,%2")
               .arg(ui::word(para::LED_X)).arg(ui::word(para::LED_Y));
    out << ui::tr5("拼接: %1", "Splice: %1", "Стыковка: %1", "Ghép: %1", "拼接: %1").arg(ui::image()[para::LED_SPLICE]);
    return out;
}

void ledset::syncUpdate()
{
    refreshFromImage();
}
