#include "ui/output/quality.h"

#include "app/global.h"
#include "ui/pages.h"

quality::quality(QWidget *parent) : PanelPage(parent, 19, 11)
{
    registerPage(g_quality);
    addButton([] { return ui::tr5("亮度+", "Brightness +", "Яркость +", "Độ sáng +", "亮度+"); }, [this] { step(1); });
    addButton([] { return ui::tr5("亮度-", "Brightness -", "Яркость -", "Độ sáng -", "亮度-"); }, [this] { step(-1); });
    addBackButton();
    language_changed();
}

QString quality::titleText() const
{
    return ui::tr5("画质调节", "Quality", "Качество", "Chất lượng", "畫質調節");
}

QStringList quality::valueLines() const
{
    QStringList out;
    out << ui::tr5("亮度: %1", "Brightness: %1", "Яркость: %1", "Độ sáng: %1", "亮度: %1").arg(ui::word(para::BRIGHTNESS));
    out << ui::tr5("对比度: %1", "Contrast: %1", "Контраст: %1", "Tương phản: %1", "對比度: %1").arg(ui::word(para::CONTRAST));
    out << ui::tr5("锐度: %1", "Sharpness: %1", "Резкость: %1", "Độ nét: %1", "銳度: %1").arg(ui::word(para::SHARPNESS));
    out << ui::tr5("饱和度: %1", "Saturation: %1", "Насыщенность: %1", "Bão hòa: %1", "飽和度: %1").arg(ui::word(para::SATURATION));
    return out;
}

void quality::syncUpdate()
{
    refreshFromImage();
}

void quality::step(int delta)
{
    const int v = qBound(0, int(ui::word(para::BRIGHTNESS)) + delta, 100);
    ui::applyWord(para::BRIGHTNESS, static_cast<uint16_t>(v));
    redraw();
}
