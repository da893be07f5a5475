#include "protocol/uart_inout_4G.h"

#include "app/global.h"
#include "app/utils.h"
#include "cloud/message_deal_4g.h"
#include "protocol/qy_uart_inout.h"

#include <cstring>
#include <fcntl.h>
#include <mutex>

Qy_uart_inout_4G *Qy_uart_inout_4G::p_uart_inout_4G = nullptr;

namespace {

frame_link::Config config4G()
{
    frame_link::Config c;
    c.transport = Qy_uart_inout_4G::TRANSPORT_4G;
    c.passThrough = true;
    c.ackCommand2 = false;
    c.replyOnZero = false;
    c.recordSize = Uart_Rec_Send_Data::DATA_SIZE;
    c.pcStamp = frame_link::PcStamp::AfterChecks;
    return c;
}

} // namespace

Qy_uart_inout_4G::Qy_uart_inout_4G() : serial_link(config4G(), "4G", "4g") {}

Qy_uart_inout_4G::~Qy_uart_inout_4G()
{
    stop();
}

Qy_uart_inout_4G *Qy_uart_inout_4G::pInstance()
{
    if (!p_uart_inout_4G) {
        p_uart_inout_4G = new Qy_uart_inout_4G();
        p_uart_inout_4G->usart1_init(PORT, g_BPS, O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    return p_uart_inout_4G;
}

int Qy_uart_inout_4G::usart1_init(int port, int speed, int flags)
{
    return open_and_start(port, speed, flags, receive_thread_4G, this);
}

void *Qy_uart_inout_4G::receive_thread_4G(void *arg)
{
    static_cast<Qy_uart_inout_4G *>(arg)->run();
    return nullptr;
}

int Qy_uart_inout_4G::init_cmd_reg_4g(uint8_t *data)
{
    static const uint8_t frame[RECONFIG_SIZE] = {0xA5, 0x10, 0xF0, 0x00, 0xF1, 0x10, 0xCC, 0x01,
                                                 0x00, 0x00, 0xA0, 0x01, 0x01, 0x01, 0x6D, 0x5A};
    std::memcpy(data, frame, RECONFIG_SIZE);
    return int(RECONFIG_SIZE);
}

void Qy_uart_inout_4G::each_pass()
{
    // A reply sent on the line does not touch a pending request: that is
    // cleared only once its own frame has gone out whole.
    std::lock_guard<std::mutex> lock(Utils::_reconfig_4g_mutex);
    if (g_reconfig_4g != 1)
        return;
    uint8_t frame[RECONFIG_SIZE];
    queue_send(frame, uint32_t(init_cmd_reg_4g(frame)));
    if (flush_send_queue())
        g_reconfig_4g = 0;
}
