#include "protocol/networkmanage.h"

#include "app/global.h"
#include "app/logMsg.h"

networkManage *networkManage::p_networkManage = nullptr;

namespace {

constexpr uint8_t TRANSPORT_TCP = 2;

// While a card frame waits for its reply, look at the card side this often;
// card replies routed by the card side's own thread wake the port earlier.
constexpr int CARD_POLL_MS = 5;

frame_link::Config commandConfig()
{
    frame_link::Config c;
    c.transport = TRANSPORT_TCP;
    c.passThrough = true;
    c.ackCommand2 = true;
    c.replyOnZero = true;
    c.recordSize = stream_gatherer::RECORD_SIZE;
    return c;
}

frame_link::Config controllerConfig()
{
    frame_link::Config c = commandConfig();
    c.passThrough = false;
    return c;
}

} // namespace

networkManage::networkManage() : m_cmd(commandConfig()), m_ctl(controllerConfig()) {}

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

bool networkManage::start(Port &port, void *(*entry)(void *))
{
    if (pthread_create(&port.thread, nullptr, entry, this) != 0) {
        writeLogMsg(LOG_ERROR, "TCP command thread not started");
        return false;
    }
    port.running = true;
    return true;
}

int networkManage::initialize()
{
    m_stop = false;
    if (g_networkMode == 1)
        m_cmd.server.initialize(uint32_t(g_port.load()));
    m_ctl.server.initialize(CONTROLLER_PORT);
    fpga_manage::pInstance()->set_reply_sink(TRANSPORT_TCP, &m_cmd.link);
    if (!start(m_cmd, acceptThread))
        return 255;
    if (!start(m_ctl, acceptThread_10002))
        return 255;
    return 0;
}

void networkManage::stop()
{
    m_stop = true;
    for (Port *p : {&m_cmd, &m_ctl}) {
        if (!p->running)
            continue;
        p->link.wake();
        pthread_join(p->thread, nullptr);
        p->running = false;
    }
    fpga_manage *card = fpga_manage::pInstance();
    if (card->reply_sink(TRANSPORT_TCP) == &m_cmd.link)
        card->set_reply_sink(TRANSPORT_TCP, nullptr);
    m_cmd.server.unInitialize();
    m_ctl.server.unInitialize();
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

void networkManage::gather(Port &port)
{
    std::vector<std::vector<uint8_t>> done;
    std::deque<TcpChunk> &chunks = port.server.chunks();
    while (!chunks.empty()) {
        TcpChunk &c = chunks.front();
        done.clear();
        // A chunk that opens or continues a frame ends any wait for card replies.
        if (port.gatherers[c.conn].feed(c.data.data(), c.count, done))
            port.state = Idle;
        for (auto &wire : done)
            port.frames.push_back(Frame{std::move(wire), c.conn});
        chunks.pop_front();
    }
    for (uint64_t conn : port.server.take_closed()) {
        port.gatherers.erase(conn);
        if (port.card_origin == conn)
            port.card_origin = 0;   // its card reply, should one come, is dropped
    }
}

void networkManage::handle(Port &port, const Frame &frame)
{
    std::vector<uint8_t> reply;
    switch (port.link.process(frame.wire.data(), uint32_t(frame.wire.size()), reply)) {
    case frame_link::Result::Dropped:
    case frame_link::Result::NoReply:
        return;
    case frame_link::Result::Replied:
    case frame_link::Result::CardAcked:
        port.state = ReplyPending;
        port.server.sendTo(frame.conn, reply.data(), uint32_t(reply.size()));
        port.state = Idle;
        return;
    case frame_link::Result::CardWait:
        port.card_origin = frame.conn;
        port.state = WaitingCard;
        return;
    }
}

void networkManage::poll_card(Port &port)
{
    std::vector<uint8_t> wire;
    if (!port.link.poll_card_reply(wire))
        return;
    if (port.card_origin)
        port.server.sendTo(port.card_origin, wire.data(), uint32_t(wire.size()));
    port.card_origin = 0;
    port.state = Idle;
}

void networkManage::run(Port &port)
{
    while (!m_stop) {
        int timeout = port.state == WaitingCard ? CARD_POLL_MS : -1;
        port.server.recvData(timeout, port.link.wake_fd());
        port.link.clear_wake();
        if (m_stop)
            break;
        gather(port);
        while (!port.frames.empty()) {
            handle(port, port.frames.front());
            port.frames.pop_front();
        }
        if (port.state == WaitingCard)
            poll_card(port);
    }
}
