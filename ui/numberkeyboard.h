#ifndef UI_NUMBERKEYBOARD_H
#define UI_NUMBERKEYBOARD_H

// The shared on-screen number keyboard g_numberkeyboard and the line edit
// that opens it. The keyboard lies on the right half of the panel; on a page
// it keeps clear of the title and of the Back button's row. The entered text
// returns through the receiver's confirmString(QString) slot.

#include <QDialog>
#include <QLineEdit>
#include <QMap>
#include <QPointer>
#include <functional>

class QPushButton;

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
    void language_changed();

protected:
    // Digits, the point, Backspace, Return and Escape of a keyboard work as its keys.
    void keyPressEvent(QKeyEvent *e) override;
    // The display has the focus; its keys are the keyboard's.
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    // Closes the keyboard; OK hands the text to the receiver.
    void finish(bool ok);

    QLineEdit *m_edit;
    QPointer<QObject> m_receiver;
    QMap<QString, QPushButton *> m_keys;
};

// A line edit that opens g_numberkeyboard when touched and takes its result.
// A field bound to a value shows that value as it is in force until the user
// edits it (types, or confirms a changed text on the keyboard); from then on
// it keeps the user's text until the page reverts it.
class My_lineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit My_lineEdit(QWidget *parent = nullptr);

    // The value in force, shown while the field is not edited.
    void bindValue(std::function<QString()> value) { m_value = std::move(value); }
    // The user's text when edited, else the value in force.
    QString value() const;
    // Shows the value in force unless the user edited the field.
    void refresh();
    // Forgets the user's edit and shows the value in force.
    void revert();

public Q_SLOTS:
    void confirmString(const QString &text);

Q_SIGNALS:
    // The user's value, by Return or the keyboard's OK; only for an edited
    // field, so that Return never writes back what the field merely showed.
    void sig_confirmed(const QString &text);

protected:
    void mousePressEvent(QMouseEvent *e) override;

private:
    void showText(const QString &text);
    void markEdited();

    std::function<QString()> m_value;
    bool m_edited = false;
    QString m_offered;   // the text handed to the keyboard
};

#endif
