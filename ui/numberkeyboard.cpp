#include "ui/numberkeyboard.h"

#include "ui/pages.h"

#include <QGridLayout>
#include <QMetaObject>
#include <QPushButton>

NumberKeyboard::NumberKeyboard(QWidget *parent) : QDialog(parent, Qt::FramelessWindowHint)
{
    setFixedSize(160, 240);
    auto *grid = new QGridLayout(this);
    grid->setSpacing(2);
    grid->setContentsMargins(2, 2, 2, 2);
    m_edit = new QLineEdit(this);
    m_edit->setReadOnly(true);
    grid->addWidget(m_edit, 0, 0, 1, 3);
    static const char *const keys[] = {"7", "8", "9", "4", "5", "6", "1", "2", "3", ".", "0", "DEL", "ESC", "OK"};
    int i = 0;
    for (const char *k : keys) {
        const QString key = QString::fromLatin1(k);
        auto *b = new QPushButton(key, this);
        b->setFocusPolicy(Qt::StrongFocus);
        connect(b, &QPushButton::clicked, this, [this, key] { press(key); });
        if (key == QLatin1String("OK"))
            grid->addWidget(b, 1 + i / 3, i % 3, 1, 2);
        else
            grid->addWidget(b, 1 + i / 3, i % 3);
        ++i;
    }
}

void NumberKeyboard::start(QObject *receiver, const QString &text)
{
    m_receiver = receiver;
    m_edit->setText(text);
    show();
    raise();
}

void NumberKeyboard::press(const QString &key)
{
    if (key == QLatin1String("DEL")) {
        m_edit->backspace();
    } else if (key == QLatin1String("ESC")) {
        m_receiver = nullptr;
        hide();
    } else if (key == QLatin1String("OK")) {
        QObject *r = m_receiver;
        m_receiver = nullptr;
        hide();
        if (r)
            QMetaObject::invokeMethod(r, "confirmString", Qt::DirectConnection, Q_ARG(QString, m_edit->text()));
    } else if (m_edit->text().size() < 15) {
        m_edit->insert(key);
    }
}

void My_lineEdit::confirmString(const QString &text)
{
    setText(text);
    Q_EMIT sig_confirmed(text);
}

void My_lineEdit::mousePressEvent(QMouseEvent *e)
{
    QLineEdit::mousePressEvent(e);
    if (g_numberkeyboard)
        g_numberkeyboard->start(this, text());
}
