#ifndef UI_NUMBERKEYBOARD_H
#define UI_NUMBERKEYBOARD_H

// The shared on-screen number keyboard g_numberkeyboard (right half of the
// panel) and the line edit that opens it. The entered text returns through
// the receiver's confirmString(QString) slot.

#include <QDialog>
#include <QLineEdit>
#include <QPointer>

class NumberKeyboard : public QDialog
{
    Q_OBJECT
public:
    explicit NumberKeyboard(QWidget *parent = nullptr);

    // Opens the keyboard with `text`; OK hands the result to receiver's confirmString(QString).
    void start(QObject *receiver, const QString &text);
    QString text() const { return m_edit->text(); }

public Q_SLOTS:
    // One key: "0".."9", ".", "DEL", "OK", "ESC".
    void press(const QString &key);

private:
    QLineEdit *m_edit;
    QPointer<QObject> m_receiver;
};

// A line edit that opens g_numberkeyboard when touched and takes its result.
class My_lineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit My_lineEdit(QWidget *parent = nullptr) : QLineEdit(parent) {}

public Q_SLOTS:
    void confirmString(const QString &text);

Q_SIGNALS:
    void sig_confirmed(const QString &text);

protected:
    void mousePressEvent(QMouseEvent *e) override;
};

#endif
