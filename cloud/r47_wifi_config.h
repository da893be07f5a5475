#ifndef CLOUD_R47_WIFI_CONFIG_H
#define CLOUD_R47_WIFI_CONFIG_H

// The WiFi access-point manager: its 17 text settings, the access point's
// state and the text commands of UDP port 13769.

#include "cloud/turn_thread.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>

// State of the access point; 3 = running (the port-13769 thread reads
// datagrams only then).
extern std::atomic<uint8_t> wifi_ap_state;
constexpr uint8_t WIFI_AP_RUNNING = 3;

class R47_WIFI_CONFIG
{
public:
    // Creates the manager and, on the first call, starts WiFi_Start_Thread.
    static R47_WIFI_CONFIG *pInstance();
    // main creates it after the links have started, and their commands read
    // it: the pointer is published atomically.
    static std::atomic<R47_WIFI_CONFIG *> p_wifi;

    // The text settings, in this fixed order.
    enum Setting {
        CHANNEL = 0,        // radio channel, decimal
        SSID = 1,
        PASSPHRASE = 2,
        SECURITY = 3,
        COUNTRY = 4,
        AP_ADDRESS = 5,     // dotted IPv4
        MAX_CLIENTS = 6,    // decimal
        MODULE_VERSION = 7, // hexadecimal digits
        DHCP_START = 8,
        DHCP_END = 9,
        DHCP_LEASE = 10,    // seconds, decimal
        AP_NETMASK = 11,    // dotted IPv4
        AP_GATEWAY = 12,    // dotted IPv4
        TCP_PORT = 13,      // decimal port
        AP_DNS = 14,        // dotted IPv4
        AP_MAC = 15,        // colon-separated MAC
        INTERFACE = 16,
        SETTING_COUNT = 17
    };

    // Setting k (empty outside 0..16); safe from any thread.
    QString wifi_para(int k) const;
    void set_wifi_para(int k, const QString &value);

    // Text commands of one datagram of UDP port 13769. Answers none yet: the
    // access point is not started here, so 0 (left to the caller).
    int wifi_AT_cmd_manage(const uint8_t *data, int count);

    static void *WiFi_Start_Thread(void *arg);
    std::atomic<uint32_t> thread_turns{0};   // turns of the thread (a liveness sign)
    // Ends the thread and waits for it (tests; the program never stops it).
    void stop();

private:
    R47_WIFI_CONFIG();

    mutable std::mutex m_mutex;
    QString m_para[SETTING_COUNT];
    TurnThread m_worker;
};

#endif
