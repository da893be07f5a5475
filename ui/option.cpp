#include "ui/option.h"

#include "app/global.h"
#include "ui/advancedoption.h"
#include "ui/imagequality.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/inputcut.h"
#include "ui/linkoption.h"
#include "ui/output/smartmapping.h"
#include "ui/outputset.h"
#include "ui/pages.h"

Option::Option(QWidget *parent) : PanelPage(parent, page::Option, page::Main)
{
    registerPage(g_option);
    addButton([] { return ui::tr5("输出设置", "Output", "Выход", "Đầu ra", "輸出設置"); }, [this] { if (!g_outputset) openChild<OutputSet>(); });
    addButton([] { return ui::tr5("输入裁剪", "Input crop", "Обрезка", "Cắt đầu vào", "輸入裁剪"); }, [this] { if (!g_inputcut) openChild<InputCut>(); });
    addButton([] { return ui::tr5("EDID设置", "EDID", "EDID", "EDID", "EDID設置"); }, [this] { if (!g_edidset) openChild<EDIDset>(); });
    addButton([] { return ui::tr5("窗口布局", "Layout", "Окна", "Bố cục", "窗口佈局"); }, [this] { if (!g_imagelayout) openChild<ImageLayout>(); });
    addButton([] { return ui::tr5("通讯设置", "Link", "Связь", "Kết nối", "通訊設置"); }, [this] { if (!g_linkoption) openChild<LinkOption>(); });
    addButton([] { return ui::tr5("画质", "Picture", "Изображение", "Hình ảnh", "畫質"); }, [this] { if (!g_imagequality) openChild<ImageQuality>(); });
    addButton([] { return ui::tr5("高级设置", "Advanced", "Дополнительно", "Nâng cao", "高級設置"); }, [this] { if (!g_advancedoption) openChild<AdvancedOption>(); });
    addButton([] { return ui::tr5("智能走线", "Mapping", "Разводка", "Sơ đồ", "智能走線"); }, [this] { if (!g_smartmapping) openChild<SmartMapping>(); });
    addBackButton();
    language_changed();
}

QString Option::titleText() const
{
    return ui::tr5("设置", "Setting", "Настройки", "Cài đặt", "設置");
}

QStringList Option::valueLines() const
{
    QStringList out;
    return out;
}

void Option::syncUpdate()
{
    refreshFromImage();
}

void Option::slot_Button_back_clicked()
{
    ui::runInGui(this, [this] { leavePage(page::Main); });
}
