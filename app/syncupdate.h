#ifndef APP_SYNCUPDATE_H
#define APP_SYNCUPDATE_H

// The change dispatcher: every notification of the parameter store and of the
// USB-stick listener arrives here, in the GUI thread. It relights the USB
// keypad, refreshes the page in front, stores a user mode asked to be saved,
// brings the user-mode files in line with their slots, persists the image to
// /data/ram_device_info and performs the network reset.

#include "app/zemrampara.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

class UsbServer;

class SyncUpdate : public QObject
{
    Q_OBJECT
public:
    static SyncUpdate *pInstance();
    static SyncUpdate *p_SyncUpdate;
    // Tests only: drops the instance, so that the next pInstance() starts
    // afresh (no rewrite waiting, no interval running).
    static void resetForTest();

    // Sends the keypad LED report when it differs from the last one built.
    void update_usb_keyLed();

    // The 5-byte keypad LED report for an image, current window and upgrade state.
    static void build_keyLed(const uint8_t *image, uint8_t current, bool updating, uint8_t report[5]);

    // The last report built (all 0 before the first).
    const uint8_t *keyLedCache() const { return m_keyLed; }
    // Forgets the last report, so the next one is sent (a keypad plugged in again).
    void reset_keyLed() { std::fill(m_keyLed, m_keyLed + 5, 0); }

    // Routes the store's and the USB listener's notifications to notify().
    void listen_to(ZemRamPara *store);
    void listen_to(UsbServer *usb);

    // A notification, in the thread that sends it. Sent in the GUI thread it
    // is handled at once (para_sync). Sent by a worker it is queued: the codes
    // waiting are kept once each, in the order of their last arrival, and one
    // queued call handles them all together, so a burst costs one pass of the
    // work every notification shares (save, user-mode check, persistence).
    // Of the USB stick's notices only the last one is shown: it tells how
    // the stick is now.
    void notify(int code);

    // Least time between two rewrites of the parameter file: a stream of
    // changes is stored about ten times a second, the last one at most this
    // long after it arrived.
    static constexpr int PERSIST_INTERVAL_MS = 100;
    // Least time between two rewrites of one user mode's file: a flood of
    // saves of a mode stores it about ten times a second, the last one
    // soon after it was asked for.
    static constexpr int MODE_REWRITE_INTERVAL_MS = 100;

public Q_SLOTS:
    // Handles one notification.
    void para_sync(int code);

private Q_SLOTS:
    void drain();

private:
    SyncUpdate();
    // Handles the codes of one or more notifications: each code gets its page
    // refresh and its own step, the shared work runs once.
    void dispatch(const std::vector<int> &codes);
    void refresh_page(int code);
    // Any thread, even with the image's lock held: a user-mode save was
    // taken by the store; the GUI thread stores it at its next turn.
    void post_save();
    // Takes the panel's save request and stores one waiting save whose turn
    // has come; true when one was stored or failed, and so settled the slot
    // and the current mode. The others wait for the save timer.
    bool save_user_mode();
    // Milliseconds until mode `mode`'s file may be rewritten (0: now).
    qint64 rewrite_wait(uint16_t mode) const;
    void schedule_saves();
    void saves_due();
    void show_saved_mode();
    void check_user_modes();
    void persist_image();
    // Address, mask and gateway back to their defaults; restart off port 5005.
    void network_reset();

    uint8_t m_keyLed[5] = {0, 0, 0, 0, 0};

    std::mutex m_queue_mutex;   // guards the three below
    std::vector<int> m_queued;  // codes waiting, in the order of their last arrival
    bool m_save_waiting = false;
    bool m_drain_posted = false;

    QElapsedTimer m_last_persist;   // since the last rewrite of the parameter file
    QTimer m_persist_timer;         // a rewrite waiting for the interval to pass

    std::array<QElapsedTimer, para::MODE_COUNT> m_mode_written;   // since each mode file's last rewrite
    QDeadlineTimer m_next_save;     // no mode file is written before it expires
    QTimer m_save_timer;            // the next turn that stores a waiting save
};

#endif
