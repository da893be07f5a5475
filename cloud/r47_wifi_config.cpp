#include "cloud/r47_wifi_config.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "protocol/wifi_relay.h"

#include <chrono>
#include <mutex>

std::atomic<uint8_t> wifi_ap_state{0};

std::atomic<R47_WIFI_CONFIG *> R47_WIFI_CONFIG::p_wifi{nullptr};

namespace {
constexpr int TURN_MS = 1000;   // the access point is not started: nothing here is timed

uint8_t apState()
{
    return wifi_ap_state.load();
}

int atCommand(uint8_t *data, int count)
{
    R47_WIFI_CONFIG *w = R47_WIFI_CONFIG::p_wifi;
    return w ? w->wifi_AT_cmd_manage(data, count) : 0;
}
} // namespace

R47_WIFI_CONFIG::R47_WIFI_CONFIG()
{
    QString address;
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        address = g_str_wifi_ip;
    }
    if (address.isEmpty())
        address = QStringLiteral("192.168.22.101");
    m_para[CHANNEL] = QStringLiteral("6");
    m_para[SSID] = QStringLiteral("ZEM-R47N");
    m_para[PASSPHRASE] = QStringLiteral("12345678");
    m_para[SECURITY] = QStringLiteral("WPA2-PSK");
    m_para[COUNTRY] = QStringLiteral("CN");
    m_para[AP_ADDRESS] = address;
    m_para[MAX_CLIENTS] = QStringLiteral("8");
    m_para[MODULE_VERSION] = QStringLiteral("010000");
    m_para[DHCP_START] = QStringLiteral("192.168.22.110");
    m_para[DHCP_END] = QStringLiteral("192.168.22.150");
    m_para[DHCP_LEASE] = QStringLiteral("86400");
    m_para[AP_NETMASK] = QStringLiteral("255.255.255.0");
    m_para[AP_GATEWAY] = address;
    m_para[TCP_PORT] = QStringLiteral("5005");
    m_para[AP_DNS] = address;
    m_para[AP_MAC] = QStringLiteral("02:5A:45:4D:00:01");
    m_para[INTERFACE] = QStringLiteral("wlan0");
    writeLogMsg(3, "R47_WIFI_CONFIG created");
}

R47_WIFI_CONFIG *R47_WIFI_CONFIG::pInstance()
{
    if (p_wifi)
        return p_wifi;
    auto *w = new R47_WIFI_CONFIG();
    if (!w->m_worker.start(&R47_WIFI_CONFIG::WiFi_Start_Thread, w, "wifi"))
        writeLogMsg(1, "WiFi_Start_Thread create error");
    p_wifi = w;
    // The UDP port-13769 relay asks the access point's state and hands datagrams here.
    wifi_relay::install(apState, atCommand);
    return p_wifi;
}

QString R47_WIFI_CONFIG::wifi_para(int k) const
{
    if (k < 0 || k >= SETTING_COUNT)
        return QString();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_para[k];
}

void R47_WIFI_CONFIG::set_wifi_para(int k, const QString &value)
{
    if (k < 0 || k >= SETTING_COUNT)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_para[k] = value;
}

int R47_WIFI_CONFIG::wifi_AT_cmd_manage(const uint8_t *data, int count)
{
    (void)data;
    (void)count;
    return 0;
}

void *R47_WIFI_CONFIG::WiFi_Start_Thread(void *arg)
{
    auto *self = static_cast<R47_WIFI_CONFIG *>(arg);
    // The access point is not started by this build (no hostapd/udhcpd run);
    // the thread keeps the state at "not running" and idles.
    do
        ++self->thread_turns;
    while (!self->m_worker.waitTurn(std::chrono::milliseconds(TURN_MS)));
    return nullptr;
}

void R47_WIFI_CONFIG::stop()
{
    m_worker.stop();
}
