#ifndef PROTOCOL_QY_UART_INOUT_H
#define PROTOCOL_QY_UART_INOUT_H

// The RS-485 command link on serial port 2: its receive thread gathers
// frames, answers controller frames, passes card frames through to the
// sending card and sends the card replies back.

#include "protocol/frame_link.h"
#include "protocol/serial_modules.h"

#include <atomic>
#include <deque>
#include <pthread.h>

extern int g_BPS;

class Qy_uart_inout
{
public:
    static Qy_uart_inout *pInstance();
    static Qy_uart_inout *p_uart_inout;

    static constexpr int PORT = 2;
    static constexpr int READ_MAX = 32 * 1024 + 28;

    enum LinkState : uint32_t { Idle = 0, WaitingCard = 1, ReplyPending = 2 };

    Qy_uart_inout();
    ~Qy_uart_inout();

    // Opens the port and starts the receive thread; 0, or 255 when the
    // thread cannot be started. A port that cannot be opened leaves the link
    // without a thread (still 0).
    int usart1_init(int port, int speed, int flags);
    // Sends the send queue in order under the link's mutex; 0.
    int send_uart_data();
    // Ends the receive thread (used when a link object is torn down).
    void stop();

    bool running() const { return m_running; }
    uint32_t state() const { return m_state; }
    // True while the port is open (false while the link waits to re-open a
    // line that hung up).
    bool line_open() const { return m_fd > 0; }
    // Passes of the receive thread so far (each one waits on the line or
    // backs off), for tests that check the thread does not spin.
    uint64_t turns() const { return m_turns; }

    // Back-off between attempts to re-open a line that hung up: it starts
    // at the first value and doubles up to the second.
    static constexpr int REOPEN_FIRST_MS = 50;
    static constexpr int REOPEN_MAX_MS = 1000;
    frame_link &link() { return m_link; }

    static void *receive_thread(void *arg);

private:
    void run();
    void handle_frame(const std::vector<uint8_t> &frame);
    void queue_send(std::vector<uint8_t> &wire);
    void hang_up();
    bool reopen();

    std::atomic<int> m_fd{-1};
    int m_port = PORT;
    int m_speed = 115200;
    int m_flags = 0;
    int m_backoff_ms = REOPEN_FIRST_MS;
    std::atomic<uint64_t> m_turns{0};
    pthread_mutex_t m_mutex;
    pthread_t m_thread;
    serial_modules m_serial;
    frame_link m_link;
    std::atomic<uint32_t> m_state{Idle};
    std::deque<Uart_Rec_Send_Data> m_recv_queue;
    std::deque<Uart_Rec_Send_Data> m_send_queue;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
};

#endif
