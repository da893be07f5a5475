#include "ui/input/inputchoose.h"

#include "app/global.h"
#include "app/zemrampara.h"
#include "ui/pages.h"

InputChoose::InputChoose(QWidget *parent) : PanelPage(parent, page::InputChoose, page::Main)
{
    registerPage(g_inputchoose);
    m_copy.take();
    addButton([this] { return fitButton(ui::sourceName(0)); }, [this] { select(0); });
    addButton([this] { return fitButton(ui::sourceName(1)); }, [this] { select(1); });
    addButton([this] { return fitButton(ui::sourceName(2)); }, [this] { select(2); });
    addButton([this] { return fitButton(ui::sourceName(3)); }, [this] { select(3); });
    addButton([this] { return fitButton(ui::sourceName(4)); }, [this] { select(4); });
    addButton([this] { return fitButton(ui::sourceName(5)); }, [this] { select(5); });
    addBackButton();
    language_changed();
}

QString InputChoose::titleText() const
{
    return ui::tr5("输入源", "Input", "Вход", "Đầu vào", "輸入源");
}

QStringList InputChoose::valueLines() const
{
    QStringList out;
    const int w = g_image_current.load();
    out << fitLine(QStringLiteral("%1"), {ui::nameArg(ui::windowName(w))});
    const int s = ui::windowSource(w);
    out << fitLine(ui::tr5("信号源: %1 %2", "Source: %1 %2", "Источник: %1 %2", "Nguồn: %1 %2", "信號源: %1 %2"),
                   {ui::nameArg(ui::sourceName(s)), ui::inputTiming(s)});
    if (ZemRamPara::p_zemrampara_config)
        out << ui::tr5("裁剪数: %1", "Crops: %1", "Обрезки: %1", "Vùng cắt: %1", "裁剪數: %1").arg(ui::cropCount(s));
    return out;
}

void InputChoose::syncUpdate(int code)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (code == 103 && store) {
        ui::rebuildCropMap();
        m_copy.take();
        redraw();
    }
    if (store && store->ZemLanguageChanged())
        language_changed();
    else if (m_copy.changed())
        redraw();
    m_copy.take();
}

void InputChoose::select(int source)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    store->ZemSetImageSource(0, static_cast<uint8_t>(source), g_image_current.load());
    store->test_signal(1);
    redraw();
}
