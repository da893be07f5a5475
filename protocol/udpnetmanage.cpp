#include "protocol/udpnetmanage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "cloud/message_deal_4g.h"
#include "protocol/tcpserver.h"
#include "protocol/wifi_relay.h"

#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

udpnetManage *udpnetManage::p_udpnetManage = nullptr;

namespace {

constexpr uint8_t TRANSPORT_UDP = 3;
constexpr int WIFI_RECHECK_MS = 1000;  // how often the relay looks at the access point's state
constexpr size_t MAX_PARTIAL_SENDERS = 64;   // senders with a frame open, as the TCP connection cap

} // namespace

frame_link::Config udpnetManage::port_config(bool controllerPort)
{
    return net_port_config(TRANSPORT_UDP, controllerPort, false, packet_gatherer::RECORD_SIZE);
}

udpnetManage::udpnetManage() : m_cmd(port_config(false), 0), m_ctl(port_config(true), 1)
{
    m_cmd.logDropped = true;
    m_ctl.logDropped = true;
    pthread_mutex_init(&wifi_mutex, nullptr);
    m_wifi_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

udpnetManage::~udpnetManage()
{
    stop();
    if (m_wifi_wake >= 0)
        ::close(m_wifi_wake);
    pthread_mutex_destroy(&wifi_mutex);
}

udpnetManage *udpnetManage::pInstance()
{
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage();
        p_udpnetManage->m_cmd.link.deal().deal_4g()->get_4G_property();
        p_udpnetManage->initialize();
    }
    return p_udpnetManage;
}

int udpnetManage::initialize()
{
    m_stop = false;
    if (g_udpnetmode == 1) {
        m_cmd.server.initialize(COMMAND_PORT);
        m_wifi.initialize(WIFI_PORT);
        m_ctl.server.initialize(CONTROLLER_PORT);
    }
    fpga_manage::pInstance()->set_reply_sink(TRANSPORT_UDP, &m_cmd.link);
    if (!m_cmd.thread.start(udpacceptThread, this, "UDP command", "udp-" + std::to_string(COMMAND_PORT)))
        return 255;
    if (!m_ctl.thread.start(udpacceptThread_10005, this, "UDP command", "udp-" + std::to_string(CONTROLLER_PORT)))
        return 255;
    if (!m_wifi_thread.start(udp_13769_acceptThread, this, "UDP command", "udp-" + std::to_string(WIFI_PORT)))
        return 255;
    return 0;
}

void udpnetManage::stop()
{
    m_stop = true;
    for (Port *p : {&m_cmd, &m_ctl}) {
        p->link.wake();
        p->thread.join();
    }
    uint64_t one = 1;
    if (::write(m_wifi_wake, &one, sizeof one) < 0) {
        // already signalled
    }
    m_wifi_thread.join();
    fpga_manage *card = fpga_manage::pInstance();
    if (card->reply_sink(TRANSPORT_UDP) == &m_cmd.link)
        card->set_reply_sink(TRANSPORT_UDP, nullptr);
    m_cmd.server.unInitialize();
    m_ctl.server.unInitialize();
    m_wifi.unInitialize();
}

void *udpnetManage::udpacceptThread(void *arg)
{
    auto *self = static_cast<udpnetManage *>(arg);
    self->run(self->m_cmd);
    return nullptr;
}

void *udpnetManage::udpacceptThread_10005(void *arg)
{
    auto *self = static_cast<udpnetManage *>(arg);
    self->run(self->m_ctl);
    return nullptr;
}

void *udpnetManage::udp_13769_acceptThread(void *arg)
{
    static_cast<udpnetManage *>(arg)->run_wifi();
    return nullptr;
}

template <class Send>
void udpnetManage::gather(Port &port, Send &send)
{
    std::deque<UdpDatagram> &queue = port.server.queue();
    std::vector<uint8_t> wire;
    while (!queue.empty()) {
        UdpDatagram &d = queue.front();
        const uint64_t key = origin_key(d.from);
        auto it = port.gatherers.find(key);
        if (it == port.gatherers.end()) {
            if (port.gatherers.size() >= MAX_PARTIAL_SENDERS)
                port.gatherers.erase(port.gatherers.begin());
            it = port.gatherers.emplace(key, packet_gatherer()).first;
        }
        bool complete = false;
        // A datagram that opens or continues a frame ends any wait for card replies.
        if (it->second.feed(d.data.data(), d.count, wire, complete))
            port.state = Idle;
        if (!it->second.in_frame())
            port.gatherers.erase(it);
        // The answer goes to d.addr (on 5008 a broadcast to the sender's
        // port); the frame belongs to the datagram's own source.
        const sockaddr_in origin = d.addr;
        queue.pop_front();
        if (!complete)
            continue;
        // Frames sent back to back in one datagram are each handled, in
        // order, as if they had come one at a time.
        stream_gatherer frames;
        frames.feed(wire.data(), uint32_t(wire.size()), [&](const uint8_t *f, uint32_t len) {
            port.handle(f, len, origin, key, send);
        });
    }
}

void udpnetManage::run(Port &port)
{
    auto send = [&port](const sockaddr_in &to, const uint8_t *data, uint32_t count) {
        port.server.sendData(data, count, to);
    };
    while (!m_stop) {
        const bool datagram = port.server.wait(port.wait_timeout(), port.link.wake_fd());
        if (port.server.woken())
            port.link.clear_wake();
        if (m_stop)
            break;
        port.server.flush();
        if (datagram)
            port.server.recvData(port.keepSender);
        gather(port, send);
        port.poll_card(send);
    }
}

// --- WiFi relay --------------------------------------------------------------

void udpnetManage::queue_wifi_reply(const uint8_t *data, uint32_t count, const sockaddr_in &to)
{
    UdpDatagram d;
    d.data.assign(data, data + count);
    d.count = count;
    d.addr = to;
    d.from = to;
    pthread_mutex_lock(&wifi_mutex);
    wifi_reply_queue.push_back(std::move(d));
    pthread_mutex_unlock(&wifi_mutex);
}

void udpnetManage::send_wifi_replies()
{
    pthread_mutex_lock(&wifi_mutex);
    while (!wifi_reply_queue.empty()) {
        const UdpDatagram &d = wifi_reply_queue.front();
        m_wifi.sendData(d.data.data(), d.count, d.addr);
        wifi_reply_queue.pop_front();
    }
    pthread_mutex_unlock(&wifi_mutex);
}

void udpnetManage::run_wifi()
{
    while (!m_stop) {
        const bool serving = g_udpnetmode == 1 && wifi_relay::ap_state() == wifi_relay::AP_RUNNING;
        bool datagram = false;
        if (serving) {
            datagram = m_wifi.wait(WIFI_RECHECK_MS, m_wifi_wake);
        } else {
            // While the access point is down the datagrams wait in the socket.
            pollfd p = {m_wifi_wake, POLLIN, 0};
            ::poll(&p, 1, WIFI_RECHECK_MS);
        }
        if (m_stop || !serving)
            continue;
        m_wifi.flush();
        if (datagram)
            m_wifi.recvData(1);
        std::deque<UdpDatagram> &requests = m_wifi.queue();
        while (!requests.empty()) {
            size_t before = requests.size();
            UdpDatagram &d = requests.front();
            int answered = wifi_relay::at_command(d.data.data(), int(d.count));
            // An answered datagram was taken away by the WiFi side itself.
            if (answered != 1 || requests.size() == before)
                requests.pop_front();
        }
        send_wifi_replies();
    }
}
