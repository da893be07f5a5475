#include "ui/confirmdialog.h"

#include "ui/panelpage.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

ConfirmDialog *ConfirmDialog::ask(QWidget *page, std::function<QString()> question, std::function<void()> onConfirm)
{
    auto *d = new ConfirmDialog(page, std::move(question), std::move(onConfirm));
    d->show();
    d->raise();
    d->activateWindow();
    return d;
}

ConfirmDialog::ConfirmDialog(QWidget *page, std::function<QString()> question, std::function<void()> onConfirm)
    : QDialog(page, Qt::FramelessWindowHint), m_question(std::move(question)), m_onConfirm(std::move(onConfirm))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(ui::PANEL_W - 40, ui::PANEL_H / 2);
    if (page)
        move(page->window()->pos() + QPoint(20, ui::PANEL_H / 4));
    ui::usePanelFont(this);
    setStyleSheet(QStringLiteral("ConfirmDialog { border: 2px solid palette(dark); }"));
    auto *grid = new QGridLayout(this);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignCenter);
    grid->addWidget(m_text, 0, 0, 1, 2);
    m_no = new QPushButton(this);
    m_yes = new QPushButton(this);
    grid->addWidget(m_no, 1, 0);
    grid->addWidget(m_yes, 1, 1);
    connect(m_yes, &QPushButton::clicked, this, &ConfirmDialog::confirm);
    connect(m_no, &QPushButton::clicked, this, &ConfirmDialog::cancel);
    // Cancel first: a stray key press does not confirm.
    m_no->setFocus();
    language_changed();
}

QString ConfirmDialog::question() const
{
    return m_text->text();
}

void ConfirmDialog::language_changed()
{
    m_text->setText(m_question());
    m_yes->setText(ui::tr5("确定", "Confirm", "Да", "Xác nhận", "確定"));
    m_no->setText(ui::tr5("取消", "Cancel", "Отмена", "Hủy", "取消"));
}

void ConfirmDialog::confirm()
{
    auto onConfirm = m_onConfirm;
    close();
    if (onConfirm)
        onConfirm();
}

void ConfirmDialog::cancel()
{
    close();
}

void ConfirmDialog::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    QDialog::keyPressEvent(e);
}
