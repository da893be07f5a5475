#include "ui/input/inputcut.h"

#include "app/global.h"
#include "app/zemrampara.h"
#include "ui/pages.h"

InputCut::InputCut(QWidget *parent) : PanelPage(parent, 7, 5)
{
    registerPage(g_inputcut);
    m_copy.take();
    addBackButton();
    language_changed();
}

QString InputCut::titleText() const
{
    return ui::tr5("输入裁剪", "Input crop", "Обрезка", "Cắt đầu vào", "輸入裁剪");
}

QStringList InputCut::valueLines() const
{
    QStringList out;
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (!store)
        return out;
    for (int s = 0; s < static_cast<int>(para::INPUT_COUNT); ++s) {
        const int n = store->ZemGetSourceNum(s, para::CROP_ENTRIES);
        if (!n)
            continue;
        CROP_PARA c{};
        int entry = para::CROP_ENTRIES;
        store->ZemGetCropPara(s, 1, &c, &entry);
        out << ui::tr5("%1: %2个, 第1个 %3,%4 %5x%6", "%1: %2 crops, first %3,%4 %5x%6", "%1: %2, первая %3,%4 %5x%6",
                       "%1: %2 vùng, đầu %3,%4 %5x%6", "%1: %2個, 第1個 %3,%4 %5x%6")
                   .arg(ui::sourceName(s)).arg(n).arg(c.x).arg(c.y).arg(c.w).arg(c.h);
    }
    if (out.isEmpty())
        out << ui::tr5("无裁剪", "No crops", "Нет обрезок", "Không có vùng cắt", "無裁剪");
    return out;
}

void InputCut::syncUpdate(int code)
{
    ZemRamPara *store = ZemRamPara::p_zemrampara_config;
    if (code == 103 && store) {
        store->ZemCropSourceInit();
        redraw();
    }
    if (store && store->ZemLanguageChanged())
        language_changed();
    else if (m_copy.changed())
        redraw();
    m_copy.take();
}
