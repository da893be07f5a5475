#include "ui/system/factoryage.h"

#include "app/global.h"
#include "ui/pages.h"

factoryage::factoryage(QWidget *parent) : PanelPage(parent, page::FactoryAge, page::AdvancedOption)
{
    registerPage(g_factoryage);
    addBackButton();
    language_changed();
}

QString factoryage::titleText() const
{
    return ui::tr5("老化记录", "Ageing log", "Журнал", "Nhật ký", "老化記錄");
}

QStringList factoryage::valueLines() const
{
    QStringList out;
    if (factoryage_log.empty())
        out << ui::tr5("无记录", "No samples", "Нет записей", "Không có mẫu", "無記錄");
    const size_t n = factoryage_log.size();
    for (size_t i = n > 6 ? n - 6 : 0; i < n; ++i)
        out << factoryage_log[i];
    return out;
}

void factoryage::syncUpdate()
{
    refreshFromImage();
}
