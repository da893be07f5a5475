#include "ui/outputset.h"

#include "app/global.h"
#include "ui/output/ledset.h"
#include "ui/output/netset.h"
#include "ui/output/test_chart.h"
#include "ui/pages.h"

OutputSet::OutputSet(QWidget *parent) : PanelPage(parent, page::OutputSet, page::Option)
{
    registerPage(g_outputset);
    addButton([] { return ui::tr5("屏幕设置", "LED wall", "Экран", "Màn hình", "屏幕設置"); }, [this] { if (!g_ledset) openChild<ledset>(); });
    addButton([] { return ui::tr5("网口设置", "Ports", "Порты", "Cổng", "網口設置"); }, [this] { if (!g_netset) openChild<netset>(); });
    addButton([] { return ui::tr5("测试画面", "Test pattern", "Тест", "Mẫu thử", "測試畫面"); }, [this] { if (!g_test_chart) openChild<test_chart>(); });
    addBackButton();
    language_changed();
}

QString OutputSet::titleText() const
{
    return ui::tr5("输出设置", "Output", "Выход", "Đầu ra", "輸出設置");
}

QStringList OutputSet::valueLines() const
{
    QStringList out;
    out << ui::tr5("屏幕: %1x%2", "LED wall: %1x%2", "Экран: %1x%2", "Màn hình: %1x%2", "屏幕: %1x%2")
               .arg(ui::word(para::LED_WIDTH)).arg(ui::word(para::LED_HEIGHT));
    return out;
}

void OutputSet::syncUpdate()
{
    refreshFromImage();
}
