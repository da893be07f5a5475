#include "protocol/qy_uart_inout.h"

#include "app/global.h"
#include "app/logMsg.h"

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
    return c;
}

// Wait for the card side no longer than this while a card frame is pending;
// card replies routed by the FPGA thread wake the link earlier.
constexpr int CARD_POLL_MS = 5;

} // namespace

Qy_uart_inout::Qy_uart_inout() : m_link(serialConfig())
{
    pthread_mutex_init(&m_mutex, nullptr);
}

Qy_uart_inout::~Qy_uart_inout()
{
    stop();
    m_serial.close_all();
    pthread_mutex_destroy(&m_mutex);
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
    m_fd = m_serial.serial_init(port, speed, flags);
    if (m_fd <= 0)
        return 0;
    fpga_manage::pInstance()->set_reply_sink(m_link.config().transport, &m_link);
    m_stop = false;
    if (pthread_create(&m_thread, nullptr, receive_thread, this) != 0) {
        writeLogMsg(LOG_ERROR, "receive thread of the RS-485 link not started");
        return 255;
    }
    m_running = true;
    return 0;
}

void Qy_uart_inout::stop()
{
    if (!m_running)
        return;
    m_stop = true;
    m_link.wake();
    pthread_join(m_thread, nullptr);
    m_running = false;
    fpga_manage *card = fpga_manage::pInstance();
    if (card->reply_sink(m_link.config().transport) == &m_link)
        card->set_reply_sink(m_link.config().transport, nullptr);
}

void *Qy_uart_inout::receive_thread(void *arg)
{
    static_cast<Qy_uart_inout *>(arg)->run();
    return nullptr;
}

void Qy_uart_inout::queue_send(std::vector<uint8_t> &wire)
{
    Uart_Rec_Send_Data rec;
    rec.fd = m_fd;
    rec.count = int(wire.size());
    rec.data.swap(wire);
    pthread_mutex_lock(&m_mutex);
    m_send_queue.clear();
    m_send_queue.push_back(std::move(rec));
    pthread_mutex_unlock(&m_mutex);
}

void Qy_uart_inout::handle_frame(const std::vector<uint8_t> &frame)
{
    std::vector<uint8_t> reply;
    switch (m_link.process(frame.data(), uint32_t(frame.size()), reply)) {
    case frame_link::Result::Dropped:
        return;
    case frame_link::Result::NoReply:
        m_state = ReplyPending;
        return;
    case frame_link::Result::Replied:
    case frame_link::Result::CardAcked:
        queue_send(reply);
        m_state = ReplyPending;
        return;
    case frame_link::Result::CardWait:
        m_state = WaitingCard;
        pc_cmd_time = G_timeTicks.load();
        return;
    }
}

void Qy_uart_inout::run()
{
    Uart_Rec_Send_Data rec;
    rec.data.resize(READ_MAX);
    std::vector<uint8_t> frame;
    while (!m_stop) {
        // Block on the port (and on the wake-up of card replies); while a
        // card frame waits for its reply, look at the card side every few ms.
        int timeout = m_state == WaitingCard ? CARD_POLL_MS : 1000;
        bool readable = m_serial.wait_readable(m_fd, m_link.wake_fd(), timeout);
        m_link.clear_wake();
        if (m_stop)
            break;
        if (readable) {
            rec.fd = m_fd;
            if (m_serial.recv_uart_data(rec, READ_MAX) > 0)
                m_recv_queue.push_back(rec);
        }
        if (!m_recv_queue.empty()) {
            Uart_Rec_Send_Data got = std::move(m_recv_queue.front());
            m_recv_queue.pop_front();
            if (got.count >= 1 && m_link.gather(got.data.data(), uint32_t(got.count), frame))
                handle_frame(frame);
        }
        if (m_state == WaitingCard) {
            std::vector<uint8_t> wire;
            if (m_link.poll_card_reply(wire)) {
                queue_send(wire);
                send_uart_data();
                m_state = Idle;
            }
        } else if (m_state == ReplyPending) {
            send_uart_data();
            m_state = Idle;
        }
    }
}

int Qy_uart_inout::send_uart_data()
{
    pthread_mutex_lock(&m_mutex);
    if (!m_send_queue.empty()) {
        for (const Uart_Rec_Send_Data &r : m_send_queue)
            m_serial.uart_send(r);
        m_send_queue.clear();
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
    }
    pthread_mutex_unlock(&m_mutex);
    return 0;
}
