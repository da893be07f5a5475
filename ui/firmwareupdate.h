#ifndef UI_FIRMWAREUPDATE_H
#define UI_FIRMWAREUPDATE_H

// The firmware-upgrade pop-up: the round progress widget g_qround_bar over a
// short text, stepped by the tick while g_update_flag is set.

#include <QDialog>

class QLabel;

class FirmwareUpdate : public QDialog
{
    Q_OBJECT
public:
    explicit FirmwareUpdate(QWidget *parent = nullptr);
    ~FirmwareUpdate() override;
    void step();

public Q_SLOTS:
    void language_changed();

private:
    QLabel *m_text;
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
