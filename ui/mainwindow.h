#ifndef UI_MAINWINDOW_H
#define UI_MAINWINDOW_H

// The home screen (page 1) and the program's 10 ms tick.

#include "ui/panelstatus.h"

#include <QMainWindow>
#include <QStringList>
#include <cstdint>

class QLabel;
class QPushButton;
class zem_keyboard;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Redraws the home screen from the image; re-texts on a language change.
    void syncUpdate();

    // Saves the panel's request to store (save) or load user mode n (1..16)
    // and raises the apply request; the notice follows with the refresh.
    void user_mode_request(int n, bool save);

    // Set by the user-mode pop-up after a save or a recall; para_sync shows
    // the check-mark notice and clears it while the home screen is in front.
    bool notice_pending = false;

    QStringList shownLines() const;

    // Closes every open page and brings the status screen to the front (the
    // auto lock, after g_auto_lock_time ms without a key or a touch).
    void lock_panel();

    // Ageing samples are taken every this many ticks (180 s).
    static constexpr uint32_t AGEING_TICKS = 18000;
    static constexpr size_t AGEING_LOG_MAX = 1000;

public Q_SLOTS:
    // The 10 ms tick.
    void slot_update_timer_ticks();
    // Show and hide the firmware-upgrade pop-up; safe from any thread.
    void update_start();
    void update_over();
    void language_changed();

    // Opens the home screen's child pages.
    void open_input();
    void open_user_modes();
    void open_setting();
    void open_state();

protected:
    // Notes the time of every key and touch, for the auto lock.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ageing_sample();
    bool lock_due() const;
    QStringList valueLines() const;

    QLabel *m_title;
    QList<QLabel *> m_lines;
    QList<QPushButton *> m_buttons;
    zem_keyboard *m_keys;
    bool m_reboot_sent = false;
    uint32_t m_last_input;   // tick of the last key or touch
    ui::PanelState m_status_written;   // the panel status last written for the simulation
};

#endif
