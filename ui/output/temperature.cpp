#include "ui/output/temperature.h"

#include "app/global.h"
#include "ui/pages.h"

namespace {

// The chip's colour temperature modes: custom takes the three gains, the
// others are fixed matrices.
enum Preset { PRESET_CUSTOM = 0, PRESET_WARM = 1, PRESET_NATURAL = 2, PRESET_COOL = 3 };

} // namespace

temperature::temperature(QWidget *parent) : PanelPage(parent, page::Temperature, page::ImageQuality)
{
    registerPage(g_temperature);
    addButton([] { return ui::tr5("下一个色温", "Next preset", "Следующий", "Mẫu tiếp", "下一個色溫"); }, [this] { nextPreset(); });
    addBackButton();
    language_changed();
}

QString temperature::titleText() const
{
    return ui::tr5("色温", "Colour temperature", "Цветовая темп.", "Nhiệt độ màu", "色溫");
}

QString temperature::presetName(int value)
{
    switch (value) {
    case PRESET_CUSTOM: return ui::tr5("自定义", "custom", "своя", "tùy chỉnh", "自定義");
    case PRESET_WARM: return ui::tr5("暖色", "warm", "тёплая", "ấm", "暖色");
    case PRESET_NATURAL: return ui::tr5("自然", "natural", "естественная", "tự nhiên", "自然");
    case PRESET_COOL: return ui::tr5("冷色", "cool", "холодная", "lạnh", "冷色");
    default: return QString::number(value);
    }
}

QStringList temperature::valueLines() const
{
    QStringList out;
    const int preset = ui::word(para::COLOR_TEMP);
    out << ui::tr5("色温: %1", "Preset: %1", "Режим: %1", "Chế độ: %1", "色溫: %1").arg(presetName(preset));
    if (preset == PRESET_CUSTOM)
        out << QStringLiteral("R %1  G %2  B %3").arg(ui::word(para::RED_GAIN)).arg(ui::word(para::GREEN_GAIN)).arg(ui::word(para::BLUE_GAIN));
    return out;
}

void temperature::nextPreset()
{
    static const int order[] = {PRESET_WARM, PRESET_NATURAL, PRESET_COOL, PRESET_CUSTOM};
    const int now = ui::word(para::COLOR_TEMP);
    int next = PRESET_WARM;
    for (size_t i = 0; i < 4; ++i)
        if (order[i] == now)
            next = order[(i + 1) % 4];
    ui::applyWord(para::COLOR_TEMP, static_cast<uint16_t>(next));
    redraw();
}

void temperature::syncUpdate()
{
    refreshFromImage();
}
