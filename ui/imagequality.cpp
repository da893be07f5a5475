#include "ui/imagequality.h"

#include "app/global.h"
#include "ui/output/quality.h"
#include "ui/output/temperature.h"
#include "ui/pages.h"

ImageQuality::ImageQuality(QWidget *parent) : PanelPage(parent, page::ImageQuality, page::Option)
{
    registerPage(g_imagequality);
    addButton([] { return ui::tr5("画质调节", "Quality", "Качество", "Chất lượng", "畫質調節"); }, [this] { if (!g_quality) openChild<quality>(); });
    addButton([] { return ui::tr5("色温", "Colour temp.", "Цвет. темп.", "Nhiệt độ màu", "色溫"); }, [this] { if (!g_temperature) openChild<temperature>(); });
    addBackButton();
    language_changed();
}

QString ImageQuality::titleText() const
{
    return ui::tr5("画质", "Picture", "Изображение", "Hình ảnh", "畫質");
}

QStringList ImageQuality::valueLines() const
{
    QStringList out;
    out << ui::tr5("亮度: %1", "Brightness: %1", "Яркость: %1", "Độ sáng: %1", "亮度: %1").arg(ui::word(para::BRIGHTNESS));
    return out;
}

void ImageQuality::syncUpdate()
{
    refreshFromImage();
}
