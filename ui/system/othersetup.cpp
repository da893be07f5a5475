#include "ui/system/othersetup.h"

#include "app/global.h"
#include "app/zemrampara.h"
#include "ui/pages.h"

othersetup::othersetup(QWidget *parent) : PanelPage(parent, 17, 12)
{
    registerPage(g_othersetup);
    addButton([] { return ui::tr5("按键锁", "Key lock", "Блокировка", "Khóa phím", "按鍵鎖"); }, [this] { ui::applyWord(para::KEY_LOCK, ui::word(para::KEY_LOCK) ? 0 : 1); redraw(); });
    addButton([] { return ui::tr5("确定", "OK", "OK", "OK", "確定"); }, [this] { if (ZemRamPara::p_zemrampara_config) ZemRamPara::p_zemrampara_config->ram_para_save(); });
    addBackButton();
    language_changed();
}

QString othersetup::titleText() const
{
    return ui::tr5("其他设置", "Other", "Прочее", "Khác", "其他設置");
}

QStringList othersetup::valueLines() const
{
    QStringList out;
    const bool locked = ui::word(para::KEY_LOCK) != 0;
    out << ui::tr5("按键锁: %1", "Key lock: %1", "Блокировка: %1", "Khóa phím: %1", "按鍵鎖: %1")
               .arg(locked ? ui::tr5("开", "on", "вкл", "bật", "開") : ui::tr5("关", "off", "выкл", "tắt", "關"));
    const bool wifiOff = ui::image()[para::WIFI_OFF] != 0;
    out << QStringLiteral("WiFi: %1").arg(wifiOff ? ui::tr5("关", "off", "выкл", "tắt", "關") : ui::tr5("开", "on", "вкл", "bật", "開"));
    return out;
}

void othersetup::syncUpdate()
{
    refreshFromImage();
}
