#include "ui/output/quality.h"

#include "app/global.h"
#include "ui/numberkeyboard.h"
#include "ui/pages.h"

#include <QGridLayout>
#include <QPushButton>

namespace {
constexpr int VALUE_MAX = 100;
}

quality::quality(QWidget *parent) : PanelPage(parent, page::Quality, page::ImageQuality)
{
    registerPage(g_quality);
    addRow(0, para::BRIGHTNESS, [] { return ui::tr5("亮度", "Brightness", "Яркость", "Độ sáng", "亮度"); });
    addRow(1, para::CONTRAST, [] { return ui::tr5("对比度", "Contrast", "Контраст", "Tương phản", "對比度"); });
    addRow(2, para::SHARPNESS, [] { return ui::tr5("锐度", "Sharpness", "Резкость", "Độ nét", "銳度"); });
    addRow(3, para::SATURATION, [] { return ui::tr5("饱和度", "Saturation", "Насыщенность", "Bão hòa", "飽和度"); });
    form()->setColumnStretch(0, 1);
    addBackButton();
    language_changed();
}

void quality::addRow(int row, uint32_t off, std::function<QString()> label)
{
    addFormLabel(row, 0, std::move(label));
    auto *minus = new QPushButton(QStringLiteral("-"), this);
    auto *field = new My_lineEdit(this);
    auto *plus = new QPushButton(QStringLiteral("+"), this);
    minus->setFixedWidth(40);
    plus->setFixedWidth(40);
    field->setFixedWidth(48);
    field->setMaxLength(3);
    field->setAlignment(Qt::AlignCenter);
    form()->addWidget(minus, row, 1);
    form()->addWidget(field, row, 2);
    form()->addWidget(plus, row, 3);
    field->bindValue([off] { return QString::number(ui::word(off)); });
    connect(minus, &QPushButton::clicked, this, [this, off] { step(off, -1); });
    connect(plus, &QPushButton::clicked, this, [this, off] { step(off, 1); });
    connect(field, &My_lineEdit::sig_confirmed, this, [this, off](const QString &t) { enter(off, t); });
    m_rows.append(Row{off, field});
    m_fields.append(field);
}

QString quality::titleText() const
{
    return ui::tr5("画质调节", "Picture quality", "Качество", "Chất lượng ảnh", "畫質調節");
}

void quality::step(uint32_t off, int delta)
{
    const int v = qBound(0, int(ui::word(off)) + delta, VALUE_MAX);
    ui::applyWord(off, static_cast<uint16_t>(v));
    setNote(nullptr);
}

void quality::enter(uint32_t off, const QString &text)
{
    int v = 0;
    const bool ok = ui::readNumber(text, 0, VALUE_MAX, &v);
    if (ok)
        ui::applyWord(off, static_cast<uint16_t>(v));
    // Written or refused, the field shows the value in force again.
    for (const Row &r : m_rows)
        if (r.off == off)
            r.field->revert();
    if (ok)
        setNote(nullptr);
    else
        setNote([] { return ui::tr5("请输入0-100", "Enter 0 to 100", "Введите 0-100", "Nhập 0 đến 100", "請輸入0-100"); });
}

void quality::syncUpdate()
{
    refreshFromImage();
}
