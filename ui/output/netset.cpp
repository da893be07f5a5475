#include "ui/output/netset.h"

#include "app/global.h"
#include "ui/pages.h"

netset::netset(QWidget *parent) : PanelPage(parent, page::NetSet, page::OutputSet)
{
    registerPage(g_netset);
    addBackButton();
    language_changed();
}

QString netset::titleText() const
{
    return ui::tr5("网口设置", "Ports", "Порты", "Cổng", "網口設置");
}

QStringList netset::valueLines() const
{
    QStringList out;
    out << ui::tr5("网口: %1x%2", "Ports: %1x%2", "Порты: %1x%2", "Cổng: %1x%2", "網口: %1x%2")
               .arg(ui::word(para::OCH_NUM_H)).arg(ui::word(para::OCH_NUM_V));
    out << ui::tr5("每口: %1x%2", "Each: %1x%2", "Каждый: %1x%2", "Mỗi cổng: %1x%2", "每口: %1x%2")
               .arg(ui::word(para::OCH_W)).arg(ui::word(para::OCH_H));
    return out;
}

void netset::syncUpdate()
{
    refreshFromImage();
}
