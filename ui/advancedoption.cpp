#include "ui/advancedoption.h"

#include "app/global.h"
#include "platform/platform.h"
#include "ui/output/lcdshow.h"
#include "ui/pages.h"
#include "ui/system/factory.h"
#include "ui/system/factoryage.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/system/othersetup.h"
#include "ui/system/rcv_recovery.h"

#include <QDir>
#include <QPushButton>

AdvancedOption::AdvancedOption(QWidget *parent) : PanelPage(parent, page::AdvancedOption, page::Option)
{
    registerPage(g_advancedoption);
    m_recovery = addButton([] { return ui::tr5("接收卡恢复", "Card recovery", "Восстановление", "Khôi phục thẻ", "接收卡恢復"); },
                           [this] { if (!g_rcv_recovery) openChild<rcv_recovery>(); });
    addButton([] { return ui::tr5("液晶屏", "LCD", "ЖК-экран", "Màn LCD", "液晶屏"); }, [this] { if (!g_lcdshow) openChild<lcdshow>(); });
    addButton([] { return ui::tr5("其他设置", "Other", "Прочее", "Khác", "其他設置"); }, [this] { if (!g_othersetup) openChild<othersetup>(); });
    addButton([] { return ui::tr5("出厂设置", "Factory", "Заводские", "Nhà máy", "出廠設置"); }, [this] { if (!g_factory) openChild<factory>(); });
    addButton([] { return ui::tr5("老化记录", "Ageing log", "Журнал", "Nhật ký", "老化記錄"); }, [this] { if (!g_factoryage) openChild<factoryage>(); });
    addButton([] { return ui::tr5("USB升级", "USB upgrade", "Обновление USB", "Nâng cấp USB", "USB升級"); }, [this] { if (!g_firmware_usbgrade) openChild<firmware_usbgrade>(); });
    addBackButton();
    language_changed();
}

QString AdvancedOption::titleText() const
{
    return ui::tr5("高级设置", "Advanced", "Дополнительно", "Nâng cao", "高級設置");
}

QStringList AdvancedOption::valueLines() const
{
    QStringList out;
    return out;
}

void AdvancedOption::syncUpdate()
{
    refreshFromImage();
}

void AdvancedOption::language_changed()
{
    PanelPage::language_changed();
    if (m_recovery)
        m_recovery->setEnabled(!QDir(platform::qpath(QStringLiteral("/data/rcvrecovery"))).entryList(QDir::Files).isEmpty());
}
