#ifndef UI_FIRMWAREUPDATE_H
#define UI_FIRMWAREUPDATE_H

// The firmware-upgrade pop-up: the round progress widget g_qround_bar over a
// short text, stepped by the tick while g_update_flag is set.

#include <QDialog>

class QLabel;
class QRoundProgressBar;

class FirmwareUpdate : public QDialog
{
    Q_OBJECT
public:
    explicit FirmwareUpdate(QWidget *parent = nullptr);
    ~FirmwareUpdate() override;
    void step();
    QRoundProgressBar *bar() const { return m_bar; }

public Q_SLOTS:
    void language_changed();

private:
    QLabel *m_text;
    // This pop-up's own progress widget: g_qround_bar names it while the
    // pop-up is up, and the next pop-up's once that is up.
    QRoundProgressBar *m_bar;
    unsigned m_ticks = 0;
};

// Shows the pop-up (once; a second call while it is up does nothing).
void firmware_update_start(QWidget *parent);
// One tick of the pop-up's progress.
void firmware_update_step();
// Hides and deletes it.
void firmware_update_over();
// The pop-up while it is up, else null.
FirmwareUpdate *firmware_update_popup();

#endif
