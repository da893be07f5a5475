#include "protocol/networkmanage.h"

#include "app/global.h"
#include "app/logMsg.h"

#include <string>

networkManage *networkManage::p_networkManage = nullptr;

namespace {

constexpr uint8_t TRANSPORT_TCP = 2;

} // namespace

frame_link::Config networkManage::port_config(bool controllerPort)
{
    return net_port_config(TRANSPORT_TCP, controllerPort, true, stream_gatherer::RECORD_SIZE);
}

networkManage::networkManage() : m_cmd(port_config(false)), m_ctl(port_config(true)) {}

networkManage::~networkManage()
{
    stop();
}

networkManage *networkManage::pInstance()
{
    if (!p_networkManage) {
        p_networkManage = new networkManage();
        p_networkManage->initialize();
    }
    return p_networkManage;
}

int networkManage::initialize()
{
    m_stop = false;
    if (g_networkMode == 1)
        m_cmd.server.initialize(uint32_t(g_port.load()));
    m_ctl.server.initialize(CONTROLLER_PORT);
    fpga_manage::pInstance()->set_reply_sink(TRANSPORT_TCP, &m_cmd.link);
    if (!m_cmd.thread.start(acceptThread, this, "TCP command", "tcp-" + std::to_string(g_port.load())))
        return 255;
    if (!m_ctl.thread.start(acceptThread_10002, this, "TCP command", "tcp-" + std::to_string(CONTROLLER_PORT)))
        return 255;
    return 0;
}

void networkManage::stop()
{
    m_stop = true;
    for (Port *p : {&m_cmd, &m_ctl}) {
        p->link.wake();
        p->thread.join();
    }
    fpga_manage *card = fpga_manage::pInstance();
    if (card->reply_sink(TRANSPORT_TCP) == &m_cmd.link)
        card->set_reply_sink(TRANSPORT_TCP, nullptr);
    m_cmd.server.unInitialize();
    m_ctl.server.unInitialize();
}

void networkManage::set_idle_limit(std::chrono::milliseconds limit)
{
    m_cmd.server.set_idle_limit(limit);
    m_ctl.server.set_idle_limit(limit);
}

void *networkManage::acceptThread(void *arg)
{
    auto *self = static_cast<networkManage *>(arg);
    self->run(self->m_cmd);
    return nullptr;
}

void *networkManage::acceptThread_10002(void *arg)
{
    auto *self = static_cast<networkManage *>(arg);
    self->run(self->m_ctl);
    return nullptr;
}

template <class Send>
void networkManage::take(Port &port, uint64_t conn, const uint8_t *data, uint32_t n, Send &send)
{
    stream_gatherer &g = port.gatherers[conn];
    // A chunk that opens or continues a frame ends any wait for card replies.
    if (g.takes(data, n))
        port.state = Idle;
    g.feed(data, n, [&](const uint8_t *wire, uint32_t len) {
        port.server.frame_seen(conn);
        port.handle(wire, len, conn, origin_key(conn), send);
    });
    if (!g.in_frame())
        port.gatherers.erase(conn);
}

void networkManage::forget_closed(Port &port)
{
    for (uint64_t conn : port.server.take_closed()) {
        port.gatherers.erase(conn);
        if (port.card_origin == conn)
            port.card_origin = 0;   // its card reply, should one come, is dropped
    }
}

void networkManage::run(Port &port)
{
    auto send = [&port](uint64_t conn, const uint8_t *data, uint32_t count) {
        if (conn)
            port.server.sendTo(conn, data, count);
    };
    auto onChunk = [&](uint64_t conn, const uint8_t *data, uint32_t n) { take(port, conn, data, n, send); };
    while (!m_stop) {
        port.server.recvData(port.wait_timeout(), port.link.wake_fd(), onChunk);
        if (port.server.woken())
            port.link.clear_wake();
        if (m_stop)
            break;
        forget_closed(port);
        port.poll_card(send);
    }
}
