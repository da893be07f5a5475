#ifndef PROTOCOL_UART_INOUT_4G_H
#define PROTOCOL_UART_INOUT_4G_H

// The 4G module's command link on serial port 1. Frames that arrive on it are
// handled like those of the RS-485 link, with these differences: card frames
// are never acknowledged at once, the link records itself (not the RS-485
// link) as the owner of the pass-through so that card replies come back on
// this line, and it sends the module the fixed reconfiguration frame when
// g_reconfig_4g asks for it, clearing the request once the frame has gone out.

#include "protocol/frame_link.h"
#include "protocol/serial_modules.h"

#include <atomic>
#include <deque>
#include <pthread.h>

class Qy_uart_inout_4G
{
public:
    static Qy_uart_inout_4G *pInstance();
    static Qy_uart_inout_4G *p_uart_inout_4G;

    static constexpr int PORT = 1;
    static constexpr int READ_MAX = 32 * 1024 + 28;
    static constexpr uint8_t TRANSPORT_4G = 4;   // this link's value in g_passby_trans_port
    static constexpr uint32_t RECONFIG_SIZE = 16;

    enum LinkState : uint32_t { Idle = 0, WaitingCard = 1, ReplyPending = 2 };

    Qy_uart_inout_4G();
    ~Qy_uart_inout_4G();

    // As Qy_uart_inout::usart1_init.
    int usart1_init(int port, int speed, int flags);
    // Sends the send queue in order under the link's mutex; 0.
    int send_uart_data();
    // Writes the 16-byte reconfiguration frame into `data`; 16.
    static int init_cmd_reg_4g(uint8_t *data);
    // Wakes the receive thread, so that a reconfiguration request set just
    // now is served at once rather than on its next periodic look.
    void wake() { m_link.wake(); }
    void stop();

    bool running() const { return m_running; }
    uint32_t state() const { return m_state; }
    frame_link &link() { return m_link; }

    static void *receive_thread_4G(void *arg);

private:
    void run();
    void handle_frame(const std::vector<uint8_t> &frame);
    void queue_send(std::vector<uint8_t> &wire);
    bool flush_send_queue();
    void serve_reconfig();

    int m_fd = -1;
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
