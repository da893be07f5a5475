#include "protocol/serial_link.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"

#include <algorithm>
#include <chrono>

namespace {

// Wait for the card side no longer than this while a card frame is pending;
// card replies routed by the FPGA thread wake the link earlier.
constexpr int CARD_POLL_MS = 5;
// Otherwise the thread looks round this often even when nothing arrives.
constexpr int IDLE_LOOK_MS = 1000;

} // namespace

serial_link::serial_link(const frame_link::Config &frames, const char *name, const char *threadName)
    : m_name(name), m_thread_name(threadName), m_link(frames)
{
    pthread_mutex_init(&m_mutex, nullptr);
}

serial_link::~serial_link()
{
    stop();
    m_serial.close_all();
    pthread_mutex_destroy(&m_mutex);
}

int serial_link::open_and_start(int port, int speed, int flags, void *(*entry)(void *), void *arg)
{
    m_port = port;
    m_speed = speed;
    m_flags = flags;
    m_fd = m_serial.serial_init(port, speed, flags);
    if (m_fd < 0)
        return 0;
    fpga_manage::pInstance()->set_reply_sink(m_link.config().transport, &m_link);
    m_stop = false;
    if (pthread_create(&m_thread, nullptr, entry, arg) != 0) {
        writeLogMsg(LOG_ERROR, "receive thread of the %s link not started", m_name);
        return 255;
    }
    Utils::name_thread(m_thread, m_thread_name);
    m_running = true;
    return 0;
}

void serial_link::stop()
{
    if (m_running) {
        m_stop = true;
        m_link.wake();
        pthread_join(m_thread, nullptr);
        m_running = false;
    }
    // The sink is registered before the thread starts, so it goes in every case.
    fpga_manage *card = fpga_manage::pInstance();
    if (card->reply_sink(m_link.config().transport) == &m_link)
        card->set_reply_sink(m_link.config().transport, nullptr);
}

void serial_link::queue_send(const uint8_t *data, uint32_t count)
{
    Uart_Rec_Send_Data rec;
    rec.fd = m_fd;
    rec.count = int(count);
    rec.data.assign(data, data + count);
    pthread_mutex_lock(&m_mutex);
    m_send_queue.clear();
    m_send_queue.push_back(std::move(rec));
    pthread_mutex_unlock(&m_mutex);
}

bool serial_link::flush_send_queue()
{
    bool whole = true;
    pthread_mutex_lock(&m_mutex);
    if (!m_send_queue.empty()) {
        for (const Uart_Rec_Send_Data &r : m_send_queue)
            whole = m_serial.uart_send(r) == r.count && whole;
        m_send_queue.clear();
        frame_link::stamp_pc_activity();
    }
    pthread_mutex_unlock(&m_mutex);
    return whole;
}

int serial_link::send_uart_data()
{
    flush_send_queue();
    return 0;
}

void serial_link::handle_frame(const std::vector<uint8_t> &frame)
{
    switch (m_link.process(frame.data(), uint32_t(frame.size()), m_reply)) {
    case frame_link::Result::Dropped:
        return;
    case frame_link::Result::NoReply:
        m_state = ReplyPending;
        return;
    case frame_link::Result::Replied:
    case frame_link::Result::CardAcked:
        queue_send(m_reply.data(), uint32_t(m_reply.size()));
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
void serial_link::hang_up()
{
    pthread_mutex_lock(&m_mutex);
    m_send_queue.clear();
    pthread_mutex_unlock(&m_mutex);
    m_link.reset_gatherer();
    m_serial.close_port(m_fd);
    m_fd = -1;
    m_state = Idle;
    m_backoff_ms = REOPEN_FIRST_MS;
    debugPrint("%s line hung up; re-opening\n", m_name);
}

// Waits out the back-off (a stop ends the wait), then tries the port again.
bool serial_link::reopen()
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_backoff_ms);
    m_backoff_ms = std::min(m_backoff_ms * 2, REOPEN_MAX_MS);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (m_stop || left.count() <= 0)
            break;
        m_serial.wait_line(-1, m_link.wake_fd(), int(left.count()) + 1);
        if (m_serial.woken())
            m_link.clear_wake();
    }
    if (m_stop)
        return false;
    int fd = m_serial.serial_init(m_port, m_speed, m_flags);
    if (fd < 0)
        return false;
    // The path may still lead to the line that hung up.
    if (m_serial.wait_line(fd, -1, 0) == serial_modules::Line::HungUp) {
        m_serial.close_port(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void serial_link::run()
{
    Uart_Rec_Send_Data rec;
    rec.data.resize(READ_MAX);
    std::vector<uint8_t> wire;
    while (!m_stop) {
        ++m_turns;
        if (m_fd < 0) {
            reopen();
            continue;
        }
        // Block on the port (and on the wake-up of card replies); while a
        // card frame waits for its reply, look at the card side every few ms.
        int timeout = m_state == WaitingCard ? CARD_POLL_MS : IDLE_LOOK_MS;
        serial_modules::Line line = m_serial.wait_line(m_fd, m_link.wake_fd(), timeout);
        if (m_serial.woken())
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
                // Each frame of the read is answered before the next one is
                // handled, as if they had come one at a time.
                m_link.gather(rec.data.data(), uint32_t(rec.count), [this](const std::vector<uint8_t> &frame) {
                    handle_frame(frame);
                    if (m_state == ReplyPending) {
                        send_uart_data();
                        m_state = Idle;
                    }
                });
            } else if (m_serial.line_gone()) {
                hang_up();
                continue;
            }
        }
        if (m_state == WaitingCard) {
            if (m_link.poll_card_reply(wire)) {
                queue_send(wire.data(), uint32_t(wire.size()));
                send_uart_data();
                m_state = Idle;
            }
        } else if (m_state == ReplyPending) {
            send_uart_data();
            m_state = Idle;
        }
        each_pass();
    }
}
