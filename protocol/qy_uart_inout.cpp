#include "protocol/qy_uart_inout.h"

#include "app/global.h"
#include "app/logMsg.h"

#include <algorithm>
#include <chrono>
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
    m_port = port;
    m_speed = speed;
    m_flags = flags;
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

// The other end hung up (a pseudo-terminal whose master closed, a line that
// lost its carrier): the port keeps reporting itself readable with nothing to
// read. Drop it with whatever it was carrying and re-open it later.
void Qy_uart_inout::hang_up()
{
    pthread_mutex_lock(&m_mutex);
    m_send_queue.clear();
    pthread_mutex_unlock(&m_mutex);
    m_recv_queue.clear();
    m_link.reset_gatherer();
    m_serial.close_port(m_fd);
    m_fd = -1;
    m_state = Idle;
    m_backoff_ms = REOPEN_FIRST_MS;
    debugPrint("RS-485 line hung up; re-opening\n");
}

// Waits out the back-off (a stop ends the wait), then tries the port again.
bool Qy_uart_inout::reopen()
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_backoff_ms);
    m_backoff_ms = std::min(m_backoff_ms * 2, REOPEN_MAX_MS);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (m_stop || left.count() <= 0)
            break;
        m_serial.wait_line(-1, m_link.wake_fd(), int(left.count()) + 1);
        m_link.clear_wake();
    }
    if (m_stop)
        return false;
    int fd = m_serial.serial_init(m_port, m_speed, m_flags);
    if (fd <= 0)
        return false;
    // The path may still lead to the line that hung up.
    if (m_serial.wait_line(fd, -1, 0) == serial_modules::Line::HungUp) {
        m_serial.close_port(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void Qy_uart_inout::run()
{
    Uart_Rec_Send_Data rec;
    rec.data.resize(READ_MAX);
    std::vector<uint8_t> frame;
    while (!m_stop) {
        ++m_turns;
        if (m_fd <= 0) {
            reopen();
            continue;
        }
        // Block on the port (and on the wake-up of card replies); while a
        // card frame waits for its reply, look at the card side every few ms.
        int timeout = m_state == WaitingCard ? CARD_POLL_MS : 1000;
        serial_modules::Line line = m_serial.wait_line(m_fd, m_link.wake_fd(), timeout);
        m_link.clear_wake();
        if (m_stop)
            break;
        if (line == serial_modules::Line::HungUp) {
            hang_up();
            continue;
        }
        if (line == serial_modules::Line::Readable) {
            rec.fd = m_fd;
            if (m_serial.recv_uart_data(rec, READ_MAX) > 0) {
                m_recv_queue.push_back(rec);
            } else if (m_serial.line_gone()) {
                hang_up();
                continue;
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
