#include "protocol/uart_inout_4G.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"
#include "cloud/message_deal_4g.h"
#include "protocol/qy_uart_inout.h"

#include <QMutexLocker>
#include <cstring>
#include <fcntl.h>
#include <poll.h>

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
    return c;
}

constexpr int CARD_POLL_MS = 5;      // see Qy_uart_inout
constexpr int IDLE_LOOK_MS = 1000;   // periodic look at the reconfiguration request
constexpr int HANGUP_BACKOFF_MS = 100;

} // namespace

Qy_uart_inout_4G::Qy_uart_inout_4G() : m_link(config4G())
{
    pthread_mutex_init(&m_mutex, nullptr);
}

Qy_uart_inout_4G::~Qy_uart_inout_4G()
{
    stop();
    m_serial.close_all();
    pthread_mutex_destroy(&m_mutex);
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
    m_fd = m_serial.serial_init(port, speed, flags);
    if (m_fd <= 0)
        return 0;
    fpga_manage::pInstance()->set_reply_sink(TRANSPORT_4G, &m_link);
    m_stop = false;
    if (pthread_create(&m_thread, nullptr, receive_thread_4G, this) != 0) {
        writeLogMsg(LOG_ERROR, "receive thread of the 4G link not started");
        return 255;
    }
    m_running = true;
    return 0;
}

void Qy_uart_inout_4G::stop()
{
    if (!m_running)
        return;
    m_stop = true;
    m_link.wake();
    pthread_join(m_thread, nullptr);
    m_running = false;
    fpga_manage *card = fpga_manage::pInstance();
    if (card->reply_sink(TRANSPORT_4G) == &m_link)
        card->set_reply_sink(TRANSPORT_4G, nullptr);
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

void Qy_uart_inout_4G::queue_send(std::vector<uint8_t> &wire)
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

void Qy_uart_inout_4G::handle_frame(const std::vector<uint8_t> &frame)
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
        // A reply does not touch a pending reconfiguration request: that is
        // cleared only once its own frame has gone out.
        queue_send(reply);
        m_state = ReplyPending;
        return;
    case frame_link::Result::CardWait:
        m_state = WaitingCard;
        pc_cmd_time = G_timeTicks.load();
        return;
    }
}

bool Qy_uart_inout_4G::flush_send_queue()
{
    bool whole = true;
    pthread_mutex_lock(&m_mutex);
    if (!m_send_queue.empty()) {
        for (const Uart_Rec_Send_Data &r : m_send_queue)
            whole = m_serial.uart_send(r) == r.count && whole;
        m_send_queue.clear();
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
    }
    pthread_mutex_unlock(&m_mutex);
    return whole;
}

int Qy_uart_inout_4G::send_uart_data()
{
    flush_send_queue();
    return 0;
}

void Qy_uart_inout_4G::serve_reconfig()
{
    QMutexLocker lock(&Utils::_reconfig_4g_mutex);
    if (g_reconfig_4g != 1)
        return;
    Uart_Rec_Send_Data rec;
    rec.data.resize(RECONFIG_SIZE);
    rec.count = init_cmd_reg_4g(rec.data.data());
    rec.fd = m_fd;
    pthread_mutex_lock(&m_mutex);
    m_send_queue.clear();
    m_send_queue.push_back(std::move(rec));
    pthread_mutex_unlock(&m_mutex);
    // A frame that did not leave whole keeps the request for the next look.
    if (flush_send_queue())
        g_reconfig_4g = 0;
}

void Qy_uart_inout_4G::run()
{
    Uart_Rec_Send_Data rec;
    rec.data.resize(READ_MAX);
    std::vector<uint8_t> frame;
    while (!m_stop) {
        int timeout = m_state == WaitingCard ? CARD_POLL_MS : IDLE_LOOK_MS;
        bool readable = m_serial.wait_readable(m_fd, m_link.wake_fd(), timeout);
        m_link.clear_wake();
        if (m_stop)
            break;
        if (readable) {
            rec.fd = m_fd;
            if (m_serial.recv_uart_data(rec, READ_MAX) > 0) {
                m_recv_queue.push_back(rec);
            } else {
                // The line reports readable with nothing to read (the other end
                // hung up): look again later rather than at once.
                pollfd p = {m_link.wake_fd(), POLLIN, 0};
                ::poll(&p, 1, HANGUP_BACKOFF_MS);
            }
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
        serve_reconfig();
    }
}
