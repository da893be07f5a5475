#include "ui/numberkeyboard.h"

#include "ui/pages.h"
#include "ui/panelpage.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPushButton>

NumberKeyboard::NumberKeyboard(QWidget *parent) : QDialog(parent, Qt::FramelessWindowHint)
{
    setFixedSize(ui::PANEL_W / 2, ui::PANEL_H);
    ui::usePanelFont(this);
    auto *grid = new QGridLayout(this);
    grid->setSpacing(2);
    grid->setContentsMargins(2, 2, 2, 2);
    m_edit = new QLineEdit(this);
    m_edit->setReadOnly(true);
    m_edit->setFocusPolicy(Qt::NoFocus);
    m_edit->installEventFilter(this);
    grid->addWidget(m_edit, 0, 0, 1, 3);
    static const char *const keys[] = {"7", "8", "9", "4", "5", "6", "1", "2", "3", ".", "0", "DEL", "ESC", "OK"};
    int i = 0;
    for (const char *k : keys) {
        const QString key = QString::fromLatin1(k);
        auto *b = new QPushButton(key, this);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
        connect(b, &QPushButton::clicked, this, [this, key] { press(key); });
        if (key == QLatin1String("OK"))
            grid->addWidget(b, 1 + i / 3, i % 3, 1, 2);
        else
            grid->addWidget(b, 1 + i / 3, i % 3);
        m_keys.insert(key, b);
        ++i;
    }
    language_changed();
}

void NumberKeyboard::language_changed()
{
    m_keys[QStringLiteral("DEL")]->setText(ui::tr5("删除", "Del", "Удал.", "Xóa", "刪除"));
    m_keys[QStringLiteral("ESC")]->setText(ui::tr5("取消", "Esc", "Отм.", "Hủy", "取消"));
    m_keys[QStringLiteral("OK")]->setText(ui::tr5("确定", "OK", "OK", "OK", "確定"));
}

void NumberKeyboard::start(QObject *receiver, const QString &text)
{
    m_receiver = receiver;
    // The value is offered selected, so that the first digit replaces it.
    m_edit->setText(text);
    m_edit->selectAll();
    // On a page the keyboard keeps clear of the title and the Back button.
    auto *w = qobject_cast<QWidget *>(receiver);
    if (auto *page = w ? qobject_cast<PanelPage *>(w->window()) : nullptr) {
        const QRect area = page->keyboardArea();
        setFixedSize(area.size());
        move(area.topLeft());
    } else if (parentWidget()) {
        setFixedSize(ui::PANEL_W / 2, ui::PANEL_H);
        move(parentWidget()->window()->pos() + QPoint(ui::PANEL_W / 2, 0));
    }
    language_changed();
    show();
    raise();
    activateWindow();
    // A line edit without the focus drops its selection when its window is
    // activated: the display holds the focus (its keys are the keyboard's).
    m_edit->setFocus();
}

void NumberKeyboard::press(const QString &key)
{
    if (key == QLatin1String("DEL")) {
        m_edit->backspace();
    } else if (key == QLatin1String("ESC") || key == QLatin1String("OK")) {
        finish(key == QLatin1String("OK"));
    } else if (m_edit->text().size() < 15) {
        m_edit->insert(key);
    }
}

void NumberKeyboard::finish(bool ok)
{
    QPointer<QObject> r = m_receiver;
    m_receiver = nullptr;
    hide();
    if (r && ok)
        QMetaObject::invokeMethod(r, "confirmString", Qt::DirectConnection, Q_ARG(QString, m_edit->text()));
    // Back in the field its text is selected, so that the next digit typed
    // replaces it instead of being appended.
    if (auto *field = qobject_cast<QLineEdit *>(r.data()))
        field->selectAll();
}

bool NumberKeyboard::eventFilter(QObject *watched, QEvent *e)
{
    if (watched != m_edit || e->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, e);
    keyPressEvent(static_cast<QKeyEvent *>(e));
    return true;
}

void NumberKeyboard::keyPressEvent(QKeyEvent *e)
{
    const QString t = e->text();
    if (t.size() == 1 && (t[0].isDigit() || t[0] == QLatin1Char('.'))) {
        press(t);
        return;
    }
    switch (e->key()) {
    case Qt::Key_Backspace: press(QStringLiteral("DEL")); return;
    case Qt::Key_Escape: press(QStringLiteral("ESC")); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: press(QStringLiteral("OK")); return;
    default: QDialog::keyPressEvent(e);
    }
}

My_lineEdit::My_lineEdit(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textEdited, this, &My_lineEdit::markEdited);
    connect(this, &QLineEdit::returnPressed, this, [this] {
        if (m_edited)
            Q_EMIT sig_confirmed(text());
        // Whatever the page made of it, the next digit starts a new value.
        selectAll();
    });
}

QString My_lineEdit::value() const
{
    return m_edited || !m_value ? text() : m_value();
}

void My_lineEdit::showText(const QString &value)
{
    if (value == text())
        return;
    // A field whose whole text was selected (just opened or tabbed into)
    // stays so: the next digit typed still replaces it.
    const bool all = hasSelectedText() && selectedText() == text();
    setText(value);
    if (all)
        selectAll();
}

void My_lineEdit::markEdited()
{
    m_edited = true;
    // The page's word that its values are saved no longer holds.
    if (auto *page = qobject_cast<PanelPage *>(window()))
        page->fieldEdited();
}

void My_lineEdit::refresh()
{
    if (!m_edited && m_value)
        showText(m_value());
}

void My_lineEdit::revert()
{
    m_edited = false;
    refresh();
}

void My_lineEdit::confirmString(const QString &text)
{
    // OK on the keyboard's text unchanged is no edit: the field may show a
    // newer value by now than the one the keyboard was opened with.
    if (!m_edited && text == m_offered)
        return;
    setText(text);
    markEdited();
    Q_EMIT sig_confirmed(text);
}

void My_lineEdit::mousePressEvent(QMouseEvent *e)
{
    QLineEdit::mousePressEvent(e);
    m_offered = text();
    if (g_numberkeyboard)
        g_numberkeyboard->start(this, m_offered);
}
