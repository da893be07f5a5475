#ifndef PROTOCOL_UDPNETMANAGE_H
#define PROTOCOL_UDPNETMANAGE_H

// The UDP command link: port 5008 takes command frames from any sender,
// answers by broadcast to the sender's port and passes card frames through
// to the receiving cards; port 10005 carries controller commands only and
// answers the sender; port 13769 relays the WiFi access point's text
// commands to the WiFi side while the access point runs. One thread per
// port; each blocks until a datagram, a card reply or its wake-up arrive.
// Frames are gathered per sender address.

#include "app/global.h"
#include "protocol/net_link.h"
#include "protocol/udpserver.h"

#include <QObject>
#include <atomic>
#include <deque>
#include <map>
#include <pthread.h>

class udpnetManage : public QObject
{
public:
    static udpnetManage *pInstance();
    static udpnetManage *p_udpnetManage;

    static constexpr uint32_t COMMAND_PORT = UDP_COMMAND_PORT;
    static constexpr uint32_t CONTROLLER_PORT = UDP_CONTROLLER_PORT;
    static constexpr uint32_t WIFI_PORT = UDP_WIFI_PORT;
    enum LinkState : uint32_t { Idle = 0, WaitingCard = 1, ReplyPending = 2 };

    udpnetManage();
    ~udpnetManage() override;

    // Opens the three ports and starts the threads of 5008, 10005 and 13769
    // in this order; 0, or 255 when a thread cannot be started.
    int initialize();
    // Ends the threads and closes the ports (used when the object is torn down).
    void stop();

    // Frame settings of port 5008 (false) and of port 10005 (true).
    static frame_link::Config port_config(bool controllerPort);

    static void *udpacceptThread(void *arg);
    static void *udpacceptThread_10005(void *arg);
    static void *udp_13769_acceptThread(void *arg);

    // WiFi relay. The datagram being handled is the front of wifi_requests();
    // answers are queued under wifi_mutex and sent by the port's thread.
    std::deque<UdpDatagram> &wifi_requests() { return m_wifi.queue(); }
    void queue_wifi_reply(const uint8_t *data, uint32_t count, const sockaddr_in &to);
    pthread_mutex_t wifi_mutex;
    std::deque<UdpDatagram> wifi_reply_queue;

    uint32_t state() const { return m_cmd.state; }
    // True while the port's socket is bound.
    bool command_port_open() const { return m_cmd.server.is_open(); }
    bool controller_port_open() const { return m_ctl.server.is_open(); }
    bool wifi_port_open() const { return m_wifi.is_open(); }

private:
    struct Port : net_port<UdpServer, sockaddr_in> {   // origin: where the answer goes
        Port(const frame_link::Config &c, uint8_t keep) : net_port(c), keepSender(keep) {}
        uint8_t keepSender;
        std::map<uint64_t, packet_gatherer> gatherers;   // per sender address
    };

    void run(Port &port);
    template <class Send>
    void gather(Port &port, Send &send);
    void run_wifi();
    void send_wifi_replies();

    Port m_cmd;   // 5008
    Port m_ctl;   // 10005
    UdpServer m_wifi;
    net_thread m_wifi_thread;
    int m_wifi_wake = -1;
    std::atomic<bool> m_stop{false};
};

#endif
