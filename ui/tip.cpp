#include "ui/tip.h"

#include "app/global.h"
#include "app/utils.h"
#include "ui/mainwindow.h"
#include "ui/pages.h"
#include "ui/panelpage.h"

#include <QLabel>
#include <QVBoxLayout>

std::atomic<uint8_t> g_tip_flag{0};

namespace {
constexpr uint32_t NOTICE_TICKS = 300;
int g_tip_shown = 0;
} // namespace

TIP::TIP(QWidget *parent) : QDialog(parent, Qt::FramelessWindowHint)
{
    setFixedSize(200, 100);
    setModal(true);
    ui::usePanelFont(this);
    auto *layout = new QVBoxLayout(this);
    m_mark = new QLabel(this);
    m_mark->setAlignment(Qt::AlignCenter);
    QFont f = m_mark->font();
    f.setPixelSize(2 * ui::FONT_PX);
    m_mark->setFont(f);
    m_text = new QLabel(this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    layout->addWidget(m_mark);
    layout->addWidget(m_text);
}

QString TIP::text() const
{
    return m_text->text();
}

int TIP::shownCount()
{
    return g_tip_shown;
}

void TIP::setKind(int kind)
{
    m_kind = kind;
    // A language not enabled on this device falls back to English.
    const uint8_t lang = g_language.load();
    const uint32_t valid = g_lcd_lang_valid.load();
    const int l = (lang > 4 || (valid && !(valid & (1u << lang)))) ? 1 : lang;
    switch (kind) {
    case 1:
        m_mark->setText(QString::fromUtf8("\u2714"));
        m_text->setText(ui::tr5in(l, "设置成功", "Done", "Готово", "Hoàn tất", "設置成功"));
        break;
    case 3:
        m_mark->setText(QStringLiteral("USB"));
        m_text->setText(ui::tr5in(l, "U盘已插入", "USB stick inserted", "USB-накопитель подключён", "Đã cắm USB", "U盤已插入"));
        break;
    case 4:
        m_mark->setText(QStringLiteral("USB"));
        m_text->setText(ui::tr5in(l, "U盘已拔出", "USB stick removed", "USB-накопитель извлечён", "Đã rút USB", "U盤已拔出"));
        break;
    case 5:
        m_mark->setText(QStringLiteral("..."));
        m_text->setText(ui::tr5in(l, "正在读取", "Reading", "Чтение", "Đang đọc", "正在讀取"));
        break;
    }
}

void TIP::tip_create(int kind)
{
    if (kind != 1 && kind != 3 && kind != 4 && kind != 5)
        return;
    if (!g_tip)
        g_tip = new TIP(g_mainwindow);
    TIP *tip = g_tip;
    tip->setKind(kind);
    tip->m_stamp = G_timeTicks.load();
    ++g_tip_shown;
    if (tip->isVisible())
        return;   // shown by an outer call that is still waiting for the tick
    g_tip_flag = 1;
    if (tip->parentWidget())
        tip->move(tip->parentWidget()->window()->pos() + QPoint(60, 70));
    tip->exec();
    g_tip_flag = 0;
}

void TIP::usb_notice(int code)
{
    if (code == 100)
        tip_create(3);
    else if (code == 101)
        tip_create(4);
    else if (code == 102)
        tip_create(5);
}

void TIP::tick()
{
    TIP *tip = g_tip;
    if (!g_tip_flag || !tip || !tip->isVisible())
        return;
    if (Utils::getTimeSpace(tip->m_stamp) >= NOTICE_TICKS)
        tip->done(0);
}
