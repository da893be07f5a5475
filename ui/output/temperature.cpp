#include "ui/output/temperature.h"

#include "app/global.h"
#include "ui/pages.h"

temperature::temperature(QWidget *parent) : PanelPage(parent, 20, 11)
{
    registerPage(g_temperature);
    addBackButton();
    language_changed();
}

QString temperature::titleText() const
{
    return ui::tr5("色温", "Colour temp.", "Цвет. темп.", "Nhiệt độ màu", "色溫");
}

QStringList temperature::valueLines() const
{
    QStringList out;
    out << ui::tr5("色温: %1", "Temperature: %1", "Температура: %1", "Nhiệt độ: %1", "色溫: %1").arg(ui::word(para::COLOR_TEMP));
    out << QStringLiteral("R %1  G %2  B %3").arg(ui::word(para::RED_GAIN)).arg(ui::word(para::GREEN_GAIN)).arg(ui::word(para::BLUE_GAIN));
    return out;
}

void temperature::syncUpdate()
{
    refreshFromImage();
}
