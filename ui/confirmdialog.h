#ifndef UI_CONFIRMDIALOG_H
#define UI_CONFIRMDIALOG_H

// A question over a page before an action that cannot be undone (a factory
// reset, deleting a user mode). It is not modal: the event loop runs on, and
// the action runs only when the user confirms. Leaving the page closes it.

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

class ConfirmDialog : public QDialog
{
    Q_OBJECT
public:
    // Shows `question` over `page`; `onConfirm` runs after Confirm was pressed.
    static ConfirmDialog *ask(QWidget *page, std::function<QString()> question, std::function<void()> onConfirm);

    QString question() const;
    void confirm();
    void cancel();

public Q_SLOTS:
    void language_changed();

protected:
    void keyPressEvent(QKeyEvent *e) override;

private:
    ConfirmDialog(QWidget *page, std::function<QString()> question, std::function<void()> onConfirm);

    std::function<QString()> m_question;
    std::function<void()> m_onConfirm;
    QLabel *m_text;
    QPushButton *m_yes;
    QPushButton *m_no;
};

#endif
