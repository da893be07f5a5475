#include "protocol/qy_uart_inout.h"

#include <fcntl.h>

int g_BPS = 115200;

Qy_uart_inout *Qy_uart_inout::p_uart_inout = nullptr;

namespace {

frame_link::Config serialConfig()
{
    frame_link::Config c;
    c.transport = 1;
    c.passThrough = true;
    c.ackCommand2 = true;
    c.replyOnZero = false;
    c.recordSize = Uart_Rec_Send_Data::DATA_SIZE;
    c.pcStamp = frame_link::PcStamp::AfterChecks;
    return c;
}

} // namespace

Qy_uart_inout::Qy_uart_inout() : serial_link(serialConfig(), "RS-485", "rs485") {}

Qy_uart_inout::~Qy_uart_inout()
{
    stop();
}

Qy_uart_inout *Qy_uart_inout::pInstance()
{
    if (!p_uart_inout) {
        p_uart_inout = new Qy_uart_inout();
        p_uart_inout->usart1_init(PORT, g_BPS, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    return p_uart_inout;
}

int Qy_uart_inout::usart1_init(int port, int speed, int flags)
{
    return open_and_start(port, speed, flags, receive_thread, this);
}

void *Qy_uart_inout::receive_thread(void *arg)
{
    static_cast<Qy_uart_inout *>(arg)->run();
    return nullptr;
}
