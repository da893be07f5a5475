#ifndef PROTOCOL_NETWORKMANAGE_H
#define PROTOCOL_NETWORKMANAGE_H

// The TCP command link: port g_port (5005 unless configured otherwise), which
// also passes card frames through to the receiving cards, and port 10002,
// which carries controller commands only and answers every frame, even when
// the handler has nothing to say (the bare header and XOR). One thread per
// port; each blocks until a connection, client bytes or a card reply arrive.
//
// Frames are gathered per connection out of the byte stream, every frame is
// answered in order on the connection that sent it, and card replies go back
// to the connection whose card frame they answer (dropped when it has gone).
// A connection holds a gatherer only while it is inside a frame.

#include "app/global.h"
#include "protocol/net_link.h"
#include "protocol/tcpserver.h"

#include <atomic>
#include <map>

class networkManage
{
public:
    static networkManage *pInstance();
    static networkManage *p_networkManage;

    static constexpr uint32_t CONTROLLER_PORT = TCP_CONTROLLER_PORT;
    enum LinkState : uint32_t { Idle = 0, WaitingCard = 1, ReplyPending = 2 };

    networkManage();
    ~networkManage();
    networkManage(const networkManage &) = delete;
    networkManage &operator=(const networkManage &) = delete;

    // Opens the servers (g_port only while g_networkMode is 1) and starts
    // both threads; 0, or 255 when a thread cannot be started.
    int initialize();
    // Ends both threads and closes the servers (used when the object is torn down).
    void stop();

    // Frame settings of the command port (false) and of port 10002 (true).
    static frame_link::Config port_config(bool controllerPort);

    static void *acceptThread(void *arg);
    static void *acceptThread_10002(void *arg);

    // How long a connection must have been idle to make room for a new one
    // when a port is full (TcpServer::IDLE_LIMIT unless changed).
    void set_idle_limit(std::chrono::milliseconds limit);

    uint32_t state() const { return m_cmd.state; }
    bool command_port_open() const { return m_cmd.server.is_open(); }
    bool controller_port_open() const { return m_ctl.server.is_open(); }

private:
    struct Port : net_port<TcpServer, uint64_t> {   // origin: the connection number
        using net_port::net_port;
        std::map<uint64_t, stream_gatherer> gatherers;   // connections inside a frame
    };

    void run(Port &port);
    template <class Send>
    void take(Port &port, uint64_t conn, const uint8_t *data, uint32_t n, Send &send);
    void forget_closed(Port &port);

    Port m_cmd;   // g_port
    Port m_ctl;   // 10002
    std::atomic<bool> m_stop{false};
};

#endif
