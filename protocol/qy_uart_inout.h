#ifndef PROTOCOL_QY_UART_INOUT_H
#define PROTOCOL_QY_UART_INOUT_H

// The RS-485 command link on serial port 2: its receive thread gathers
// frames, answers controller frames, passes card frames through to the
// sending card (acknowledging command 2 at once) and sends the card replies
// back.

#include "protocol/serial_link.h"

extern int g_BPS;

class Qy_uart_inout : public serial_link
{
public:
    static Qy_uart_inout *pInstance();
    static Qy_uart_inout *p_uart_inout;

    static constexpr int PORT = 2;

    Qy_uart_inout();
    ~Qy_uart_inout() override;

    // Opens the port and starts the receive thread; 0, or 255 when the
    // thread cannot be started. A port that cannot be opened leaves the link
    // without a thread (still 0).
    int usart1_init(int port, int speed, int flags);

    static void *receive_thread(void *arg);
};

#endif
