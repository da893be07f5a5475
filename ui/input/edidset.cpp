#include "ui/input/edidset.h"

#include "app/global.h"
#include "ui/pages.h"

EDIDset::EDIDset(QWidget *parent) : PanelPage(parent, 8, 5)
{
    registerPage(g_edidset);
    addBackButton();
    language_changed();
}

QString EDIDset::titleText() const
{
    return ui::tr5("EDID设置", "EDID", "EDID", "EDID", "EDID設置");
}

QStringList EDIDset::valueLines() const
{
    QStringList out;
    for (int p = 0; p < static_cast<int>(para::INPUT_COUNT); ++p) {
        const uint32_t off = para::EDID_BASE + 6 * static_cast<uint32_t>(p);
        out << QStringLiteral("%1: %2x%3@%4").arg(ui::sourceName(p)).arg(ui::word(off)).arg(ui::word(off + 2)).arg(ui::word(off + 4));
    }
    return out;
}

void EDIDset::syncUpdate()
{
    refreshFromImage();
}
