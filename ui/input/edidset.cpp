#include "ui/input/edidset.h"

#include "app/global.h"
#include "app/zemrampara.h"
#include "ui/numberkeyboard.h"
#include "ui/pages.h"
#include "videoio/edid.h"

#include <QGridLayout>

namespace {

uint32_t edidOffset(int port) { return para::edid_record(static_cast<uint32_t>(port)); }

} // namespace

EDIDset::EDIDset(QWidget *parent) : PanelPage(parent, page::EdidSet, page::Option)
{
    registerPage(g_edidset);
    m_fields = addNumberRow(0, {ui::textWidth, ui::textHeight, [] { return ui::tr5("刷新", "Hz", "Гц", "Hz", "刷新"); }}, 52);
    // Width, height and refresh of the chosen input's record.
    for (int i = 0; i < 3; ++i)
        m_fields[i]->bindValue([this, i] { return QString::number(ui::word(edidOffset(m_port) + 2 * i)); });
    addButton([] { return ui::tr5("下一个输入", "Next input", "След. вход", "Đầu vào tiếp", "下一個輸入"); }, [this] { nextPort(); });
    addButton(ui::textSave, [this] { save(); });
    addBackButton();
    language_changed();
}

QString EDIDset::titleText() const
{
    return ui::tr5("EDID设置", "EDID", "EDID", "EDID", "EDID設置");
}

QStringList EDIDset::valueLines() const
{
    const uint32_t off = edidOffset(m_port);
    return {fitLine(ui::tr5("输入 %1: %2x%3@%4", "Input %1: %2x%3@%4", "Вход %1: %2x%3@%4", "Đầu vào %1: %2x%3@%4",
                            "輸入 %1: %2x%3@%4"),
                    {ui::nameArg(ui::sourceName(m_port)), ui::word(off), ui::word(off + 2), ui::word(off + 4)})};
}

void EDIDset::nextPort()
{
    m_port = (m_port + 1) % static_cast<int>(para::INPUT_COUNT);
    revertFields();
    setNote(nullptr);
}

void EDIDset::save()
{
    int w = 0, h = 0, hz = 0;
    if (!ui::readNumber(m_fields[0]->value(), edid::MIN_ACTIVE, edid::MAX_ACTIVE, &w) ||
        !ui::readNumber(m_fields[1]->value(), edid::MIN_ACTIVE, edid::MAX_ACTIVE, &h) ||
        !ui::readNumber(m_fields[2]->value(), edid::MIN_HZ, edid::MAX_HZ, &hz)) {
        setNote([] {
            return ui::tr5("宽高%1-%2, 刷新%3-%4", "Size %1-%2, rate %3-%4 Hz", "Размер %1-%2, %3-%4 Гц",
                           "Cỡ %1-%2, tần số %3-%4", "寬高%1-%2, 刷新%3-%4")
                .arg(edid::MIN_ACTIVE).arg(edid::MAX_ACTIVE).arg(edid::MIN_HZ).arg(edid::MAX_HZ);
        });
        return;
    }
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return;
    store->ZemSetEDIDPara(m_port, static_cast<int16_t>(w), static_cast<int16_t>(h), static_cast<int16_t>(hz));
    revertFields();
    noteSaved();
}

void EDIDset::syncUpdate()
{
    refreshFromImage();
}
