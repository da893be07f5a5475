#ifndef PROTOCOL_SERIAL_LINK_H
#define PROTOCOL_SERIAL_LINK_H

// What the serial command links (RS-485 on port 2, the 4G module on port 1)
// share: the port, the receive thread's loop (read, gather, process, wait for
// card replies, send), the send queue under the link's mutex, and the
// handling of a line that hangs up (close it, back off, re-open it by its
// path). A link differs only in its frame settings and in what it does once
// per pass of its thread.

#include "protocol/frame_link.h"
#include "protocol/serial_modules.h"

#include <atomic>
#include <deque>
#include <pthread.h>

class serial_link
{
public:
    enum LinkState : uint32_t { Idle = 0, WaitingCard = 1, ReplyPending = 2 };

    static constexpr int READ_MAX = 32 * 1024 + 28;
    // Back-off between attempts to re-open a line that hung up: it starts
    // at the first value and doubles up to the second.
    static constexpr int REOPEN_FIRST_MS = 50;
    static constexpr int REOPEN_MAX_MS = 1000;

    // `name` is the link's name in messages, `threadName` its thread's name.
    serial_link(const frame_link::Config &frames, const char *name, const char *threadName);
    virtual ~serial_link();
    serial_link(const serial_link &) = delete;
    serial_link &operator=(const serial_link &) = delete;

    // Sends the send queue in order under the link's mutex; 0.
    int send_uart_data();
    // Wakes the receive thread.
    void wake() { m_link.wake(); }
    // Ends the receive thread (used when a link object is torn down).
    void stop();

    bool running() const { return m_running; }
    uint32_t state() const { return m_state; }
    // True while the port is open (false while the link waits to re-open a
    // line that hung up).
    bool line_open() const { return m_fd >= 0; }
    // Passes of the receive thread so far (each one waits on the line or
    // backs off), for tests that check the thread does not spin.
    uint64_t turns() const { return m_turns; }
    frame_link &link() { return m_link; }

protected:
    // Opens the port and starts `entry(arg)` as the receive thread; 0, or
    // 255 when the thread cannot be started. A port that cannot be opened
    // leaves the link without a thread (still 0).
    int open_and_start(int port, int speed, int flags, void *(*entry)(void *), void *arg);
    // The receive thread's loop, until stop().
    void run();
    // Called once per pass of the receive thread.
    virtual void each_pass() {}
    // Replaces the send queue with one record of `count` bytes from `data`.
    void queue_send(const uint8_t *data, uint32_t count);
    // Sends the queue; true when every record left whole.
    bool flush_send_queue();

private:
    void handle_frame(const std::vector<uint8_t> &frame);
    void hang_up();
    bool reopen();

    const char *m_name;
    const char *m_thread_name;
    std::atomic<int> m_fd{-1};
    int m_port = 0;
    int m_speed = 115200;
    int m_flags = 0;
    int m_backoff_ms = REOPEN_FIRST_MS;
    std::atomic<uint64_t> m_turns{0};
    pthread_mutex_t m_mutex;
    pthread_t m_thread;
    serial_modules m_serial;
    frame_link m_link;
    std::atomic<uint32_t> m_state{Idle};
    std::deque<Uart_Rec_Send_Data> m_send_queue;
    std::vector<uint8_t> m_reply;   // reply of the frame being handled, reused
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
};

#endif
