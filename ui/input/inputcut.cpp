#include "ui/input/inputcut.h"

#include "app/global.h"
#include "app/para_lock.h"
#include "ui/numberkeyboard.h"
#include "ui/pages.h"

#include <QGridLayout>
#include <QSize>

namespace {

constexpr int FIELD_MAX = 0xFFFF;

// The size a crop of source s must lie in: the input's timing while it has
// a signal, else the resolution its EDID offers.
QSize sourceSize(int s)
{
    uint16_t timing[3];
    ui::timingOf(s, timing);
    if (timing[0] && timing[1] && timing[2])
        return QSize(timing[0], timing[1]);
    const uint32_t edid = para::edid_record(static_cast<uint32_t>(s));
    return QSize(ui::word(edid), ui::word(edid + 2));
}

ZemRamPara *store() { return ZemRamPara::p_zemrampara_config; }

} // namespace

InputCut::InputCut(QWidget *parent) : PanelPage(parent, page::InputCut, page::Option)
{
    registerPage(g_inputcut);
    ui::rebuildCropMap();
    m_copy.take();
    m_source = ui::windowSource(g_image_current.load());
    m_fields = addNumberRow(0, {[] { return QStringLiteral("X"); }, [] { return QStringLiteral("Y"); }}, 56);
    m_fields += addNumberRow(1, {ui::textWidth, ui::textHeight}, 56);
    for (int i = 0; i < 4; ++i)
        m_fields[i]->bindValue([this, i] { return QString::number(shownCrop()[i]); });
    addButton([] { return ui::tr5("信号源", "Source", "Источник", "Nguồn", "信號源"); }, [this] { nextSource(); });
    addButton([] { return ui::tr5("下一个裁剪", "Next crop", "След. обрезка", "Vùng tiếp", "下一個裁剪"); }, [this] { nextCrop(); });
    addButton([] { return ui::tr5("新增", "Add", "Добавить", "Thêm", "新增"); }, [this] { addCrop(); });
    addButton(ui::textSave, [this] { saveCrop(); });
    addButton([] { return ui::tr5("删除", "Delete", "Удалить", "Xóa", "刪除"); }, [this] { deleteCrop(); });
    addBackButton();
    m_chosen = cropCount() ? 1 : 0;
    language_changed();
}

QString InputCut::titleText() const
{
    return ui::tr5("输入裁剪", "Input crop", "Обрезка входа", "Cắt đầu vào", "輸入裁剪");
}

int InputCut::cropCount() const
{
    return ui::cropCount(m_source);
}

QStringList InputCut::valueLines() const
{
    QStringList out;
    out << fitLine(ui::tr5("信号源: %1 %2", "Source: %1 %2", "Источник: %1 %2", "Nguồn: %1 %2", "信號源: %1 %2"),
                   {ui::nameArg(ui::sourceName(m_source)), ui::inputTiming(m_source)});
    CROP_PARA c{};
    const int entry = ui::cropOf(m_source, m_chosen, &c);
    if (entry >= static_cast<int>(para::CROP_ENTRIES)) {
        out << ui::tr5("无裁剪", "No crops", "Нет обрезок", "Không có vùng cắt", "無裁剪");
        return out;
    }
    const QString name = ui::aliasOr("crop", entry, ui::tr5("裁剪%1", "Crop %1", "Обрезка %1", "Vùng %1", "裁剪%1").arg(m_chosen));
    out << fitLine(QStringLiteral("%1/%2 %3: %4,%5 %6x%7"),
                   {m_chosen, cropCount(), ui::nameArg(name), c.x, c.y, c.w, c.h});
    return out;
}

std::array<int, 4> InputCut::shownCrop() const
{
    CROP_PARA c{0, 0, 0, 0, 0};
    if (ui::cropOf(m_source, m_chosen, &c) >= static_cast<int>(para::CROP_ENTRIES)) {
        // A new crop starts as the whole source.
        const QSize size = sourceSize(m_source);
        c = CROP_PARA{0, 0, 0, size.width(), size.height()};
    }
    return {c.x, c.y, c.w, c.h};
}

InputCut::Refusal InputCut::readFields(CROP_PARA *out) const
{
    int v[4];
    for (int i = 0; i < 4; ++i)
        if (!ui::readNumber(m_fields[i]->value(), 0, FIELD_MAX, &v[i]))
            return Refusal::NotNumber;
    const QSize size = sourceSize(m_source);
    if (v[2] < 1 || v[3] < 1 || v[0] + v[2] > size.width() || v[1] + v[3] > size.height())
        return Refusal::Outside;
    *out = CROP_PARA{0, v[0], v[1], v[2], v[3]};
    return Refusal::None;
}

void InputCut::refuse(Refusal why)
{
    const QSize size = sourceSize(m_source);
    switch (why) {
    case Refusal::NotNumber:
        setNote([] { return ui::tr5("请输入整数", "Enter whole numbers", "Введите целые числа", "Nhập số nguyên", "請輸入整數"); });
        break;
    case Refusal::Outside:
        setNote([size] {
            return ui::tr5("超出信号源 %1x%2", "Outside the source %1x%2", "Вне источника %1x%2", "Ngoài nguồn %1x%2", "超出信號源 %1x%2")
                .arg(size.width()).arg(size.height());
        });
        break;
    case Refusal::AllUsed:
        setNote([] { return ui::tr5("40个裁剪已用完", "All 40 crops are in use", "Заняты все 40 обрезок", "Đã dùng hết 40 vùng cắt", "40個裁剪已用完"); });
        break;
    case Refusal::NoCrop:
        setNote([] { return ui::tr5("未选择裁剪", "No crop chosen", "Обрезка не выбрана", "Chưa chọn vùng cắt", "未選擇裁剪"); });
        break;
    case Refusal::None:
        setNote(nullptr);
        break;
    }
}

void InputCut::nextSource()
{
    m_source = (m_source + 1) % static_cast<int>(para::INPUT_COUNT);
    m_chosen = cropCount() ? 1 : 0;
    revertFields();
    setNote(nullptr);
}

void InputCut::nextCrop()
{
    const int n = cropCount();
    m_chosen = n ? m_chosen % n + 1 : 0;
    revertFields();
    setNote(nullptr);
}

void InputCut::addCrop()
{
    CROP_PARA c{};
    const Refusal why = readFields(&c);
    if (why != Refusal::None || !store()) {
        refuse(why);
        return;
    }
    const int number = store()->ZemAddCropID(m_source);
    if (store()->ZemAddNewCrop(m_source, &c) != 0) {
        refuse(Refusal::AllUsed);
        return;
    }
    ui::rebuildCropMap();
    // The new crop is chosen: its place among the source's crops by number.
    for (int n = 1; n <= cropCount(); ++n)
        if (store()->ZemGetCropID(m_source, n) == number)
            m_chosen = n;
    cropsChanged();
}

void InputCut::saveCrop()
{
    CROP_PARA c{};
    Refusal why = m_chosen ? readFields(&c) : Refusal::NoCrop;
    if (why != Refusal::None || !store()) {
        refuse(why);
        return;
    }
    {
        ParaLock lock;
        store()->ZemSetCropPara(static_cast<uint8_t>(m_source), static_cast<uint8_t>(m_chosen), &c);
        raise_apply_request_locked(1);
    }
    cropsChanged();
}

void InputCut::deleteCrop()
{
    CROP_PARA c{};
    const int entry = ui::cropOf(m_source, m_chosen, &c);
    if (entry >= static_cast<int>(para::CROP_ENTRIES)) {
        refuse(Refusal::NoCrop);
        return;
    }
    store()->ZemDeleteCrop(static_cast<uint8_t>(m_source), static_cast<uint8_t>(m_chosen));
    {
        // A window that showed the crop shows its whole source again, so that
        // a crop added later in the same table entry does not appear there.
        ParaLock lock;
        const uint16_t cropWord = static_cast<uint16_t>(para::WIN_SOURCE_CROP + entry);
        for (uint32_t w = 0; w < para::WINDOW_COUNT; ++w)
            if (store()->word(para::window(w, para::WIN_SOURCE)) == cropWord)
                store()->setWord(para::window(w, para::WIN_SOURCE), static_cast<uint16_t>(m_source));
        raise_apply_request_locked(1);
    }
    ui::rebuildCropMap();
    m_chosen = qMin(m_chosen, cropCount());
    cropsChanged(true);
}

void InputCut::cropsChanged(bool deleted)
{
    m_copy.take();
    revertFields();
    if (deleted)
        setNote([] { return ui::tr5("已删除", "Deleted", "Удалено", "Đã xóa", "已刪除"); });
    else
        noteSaved();
}

void InputCut::syncUpdate(int code)
{
    ZemRamPara *s = store();
    const bool changed = code == 103 || m_copy.changed();
    if (changed && s) {
        // The crop table changed elsewhere (the PC tool): show it as it is now.
        ui::rebuildCropMap();
        m_chosen = qMin(qMax(m_chosen, cropCount() ? 1 : 0), cropCount());
        revertFields();
    }
    m_copy.take();
    refreshFromImage();
}
