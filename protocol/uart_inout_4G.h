#ifndef PROTOCOL_UART_INOUT_4G_H
#define PROTOCOL_UART_INOUT_4G_H

// The 4G module's command link on serial port 1. Frames that arrive on it are
// handled like those of the RS-485 link, with these differences: card frames
// are never acknowledged at once, the link records itself (not the RS-485
// link) as the owner of the pass-through so that card replies come back on
// this line, and it sends the module the fixed reconfiguration frame when
// g_reconfig_4g asks for it, clearing the request once the frame has gone out.

#include "protocol/serial_link.h"

class Qy_uart_inout_4G : public serial_link
{
public:
    static Qy_uart_inout_4G *pInstance();
    static Qy_uart_inout_4G *p_uart_inout_4G;

    static constexpr int PORT = 1;
    static constexpr uint8_t TRANSPORT_4G = 4;   // this link's value in g_passby_trans_port
    static constexpr uint32_t RECONFIG_SIZE = 16;

    Qy_uart_inout_4G();
    ~Qy_uart_inout_4G() override;

    // As Qy_uart_inout::usart1_init.
    int usart1_init(int port, int speed, int flags);
    // Writes the 16-byte reconfiguration frame into `data`; 16.
    static int init_cmd_reg_4g(uint8_t *data);

    static void *receive_thread_4G(void *arg);

private:
    // Serves a reconfiguration request on every pass; wake() makes one set
    // just now be served at once rather than on the next periodic look.
    void each_pass() override;
};

#endif
