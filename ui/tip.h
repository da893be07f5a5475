#ifndef UI_TIP_H
#define UI_TIP_H

// The pop-up notice g_tip: a check mark, USB stick in, out or being read. It
// runs modally until the 10 ms tick hides it 300 ticks after it was shown.

#include <QDialog>
#include <atomic>
#include <cstdint>

class QLabel;

// 1 while a notice is shown.
extern std::atomic<uint8_t> g_tip_flag;

class TIP : public QDialog
{
    Q_OBJECT
public:
    explicit TIP(QWidget *parent = nullptr);

    // Shows notice `kind` (1 check mark, 3 stick in, 4 stick out, 5 reading)
    // and returns when the tick hides it; other kinds show nothing. A notice
    // asked for while one is up replaces its text and restarts its time.
    static void tip_create(int kind);
    // The notice for USB codes 100 (in), 101 (out) and 102 (reading).
    static void usb_notice(int code);
    // Tick step: hides the notice once its time is over.
    static void tick();

    int kind() const { return m_kind; }
    QString text() const;
    // Notices shown since start (for the page tests).
    static int shownCount();

private:
    void setKind(int kind);

    QLabel *m_mark;
    QLabel *m_text;
    int m_kind = 0;
    uint32_t m_stamp = 0;
};

#endif
