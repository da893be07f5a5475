#ifndef PROTOCOL_WIFI_RELAY_H
#define PROTOCOL_WIFI_RELAY_H

// What the UDP port 13769 relay needs of the WiFi access-point side: the
// access point's state (3 = running) and the handler of one text-command
// datagram (R47_WIFI_CONFIG::wifi_AT_cmd_manage). The WiFi side installs
// both once its object exists; until then the relay reads nothing.
//
// The command handler gets the datagram's bytes and count. When it answers
// it removes the datagram from udpnetManage::wifi_requests() itself, queues
// the answer with udpnetManage::queue_wifi_reply() and returns 1; otherwise
// it returns 0 and the relay drops the datagram.

#include <atomic>
#include <cstdint>

namespace wifi_relay {

constexpr uint8_t AP_RUNNING = 3;

using StateFn = uint8_t (*)();
using CommandFn = int (*)(uint8_t *data, int count);

inline std::atomic<StateFn> g_state{nullptr};
inline std::atomic<CommandFn> g_command{nullptr};

inline void install(StateFn state, CommandFn command)
{
    g_command = command;
    g_state = state;
}

// The access point's state; 0 while no WiFi object is installed.
inline uint8_t ap_state()
{
    StateFn f = g_state.load();
    return f ? f() : 0;
}

// 1 when the WiFi side answered the datagram, else 0.
inline int at_command(uint8_t *data, int count)
{
    CommandFn f = g_command.load();
    return f ? f(data, count) : 0;
}

} // namespace wifi_relay

#endif
