#include "ui/firmwareupdate.h"

#include "ui/QRoundProgressBar.h"
#include "ui/pages.h"
#include "ui/panelpage.h"

#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace {
QPointer<FirmwareUpdate> g_update_popup;
constexpr unsigned TICKS_PER_STEP = 10;
} // namespace

FirmwareUpdate::FirmwareUpdate(QWidget *parent) : QDialog(parent, Qt::FramelessWindowHint)
{
    setFixedSize(ui::PANEL_W, ui::PANEL_H);
    ui::usePanelFont(this);
    auto *layout = new QVBoxLayout(this);
    m_text = new QLabel(this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);
    m_bar = new QRoundProgressBar(this);
    g_qround_bar = m_bar;
    layout->addWidget(m_text);
    layout->addWidget(m_bar, 0, Qt::AlignCenter);
    language_changed();
}

FirmwareUpdate::~FirmwareUpdate()
{
    // A pop-up switched off is deleted later, possibly after the next one
    // took the shared pointer.
    if (g_qround_bar == m_bar)
        g_qround_bar = nullptr;
}

void FirmwareUpdate::language_changed()
{
    m_text->setText(ui::tr5("正在升级，请勿断电", "Upgrading, keep the power on", "Обновление, не отключайте питание",
                            "Đang nâng cấp, không tắt nguồn", "正在升級，請勿斷電"));
}

void FirmwareUpdate::step()
{
    // The length of an upgrade is not known here: the arc runs round and
    // round so the panel shows that the device is busy.
    if (++m_ticks % TICKS_PER_STEP == 0)
        m_bar->setValue((m_bar->value() + 1) % 101);
}

void firmware_update_start(QWidget *parent)
{
    if (g_update_popup)
        return;
    g_update_popup = new FirmwareUpdate(parent);
    if (parent)
        g_update_popup->move(parent->window()->pos());
    g_update_popup->show();
    g_update_popup->raise();
}

void firmware_update_step()
{
    if (g_update_popup)
        g_update_popup->step();
}

void firmware_update_over()
{
    if (!g_update_popup)
        return;
    g_update_popup->hide();
    if (g_qround_bar == g_update_popup->bar())
        g_qround_bar = nullptr;
    g_update_popup->deleteLater();
    g_update_popup = nullptr;
}

FirmwareUpdate *firmware_update_popup()
{
    return g_update_popup.data();
}
