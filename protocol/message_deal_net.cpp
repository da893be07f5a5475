// Command 0xA4: finding the controller on a network and setting its wired
// Ethernet interface (eth0).

#include "protocol/message_deal.h"
#include "cloud/r47_wifi_config.h"
#include "protocol/net_records.h"

#include "app/config_engine.h"
#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "cloud/message_deal_4g.h"
#include "platform/files.h"
#include "platform/platform.h"

#include <QStringList>
#include <cstring>
#include <mutex>

namespace net_records {

void putOctets(uint8_t *field, size_t width, const QString &dotted)
{
    std::memset(field, 0, width);
    const QStringList parts = dotted.trimmed().split(QLatin1Char('.'));
    for (int i = 0; i < parts.size() && size_t(i) < width; ++i)
        field[i] = uint8_t(parts[i].toUInt());
}

void putMac(uint8_t *field, const QString &mac)
{
    std::memset(field, 0, 6);
    const QStringList parts = mac.trimmed().split(QLatin1Char(':'));
    for (int i = 0; i < parts.size() && i < 6; ++i)
        field[i] = uint8_t(parts[i].toUInt(nullptr, 16));
}

void putText(uint8_t *field, size_t width, const QByteArray &text)
{
    std::memset(field, 0, width);
    std::memcpy(field, text.constData(), std::min(width, size_t(text.size())));
}

void putWifiPart(uint8_t *body, const QString wifi[17])
{
    std::memset(body + 217, 0, 394 + 10 - 217);
    body[217] = uint8_t(wifi[0].trimmed().toInt());
    // Module version: one byte per hexadecimal digit, in bytes 218..223.
    const QString version = wifi[7].trimmed();
    for (int i = 0; i < version.size() && i < 6; ++i)
        body[218 + i] = uint8_t(QString(version[i]).toUInt(nullptr, 16));
    uint16_t clients = uint16_t(wifi[6].trimmed().toUInt());
    body[288] = uint8_t(clients);
    body[289] = uint8_t(clients >> 8);
    putOctets(body + 290, 4, wifi[5]);
    putMac(body + 294, wifi[15]);
    uint16_t port = uint16_t(wifi[13].trimmed().toUInt());
    body[364] = uint8_t(port);
    body[365] = uint8_t(port >> 8);
    putOctets(body + 366, 4, wifi[11]);
    putOctets(body + 370, 4, wifi[14]);
    putOctets(body + 374, 4, wifi[12]);
    body[378] = 24;
    uint8_t property[sizeof g_4G_property];
    message_deal_4g::copy_4G_property(property);
    std::memcpy(body + 379, property, 24);
}

} // namespace net_records

namespace {

const char *const kInterfacesFile = "/etc/network/interfaces";

// The WiFi manager's 17 settings; false while the manager does not exist.
bool wifiSettings(QString out[17])
{
    R47_WIFI_CONFIG *wifi = R47_WIFI_CONFIG::p_wifi;
    if (!wifi)
        return false;
    for (int k = 0; k < R47_WIFI_CONFIG::SETTING_COUNT; ++k)
        out[k] = wifi->wifi_para(k);
    return true;
}

QString dotted(const uint8_t *p)
{
    return QStringLiteral("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]);
}

struct EthTexts {
    QString ip, mask, gateway, mac;
};

EthTexts ethTexts()
{
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    return {g_str_ip, g_srt_mask, g_str_gateway, g_str_mac};
}

// Fills MAC, address, mask and gateway (6 + 4 + 4 + 4 bytes) in that order.
void putEthRecord(uint8_t *p, const EthTexts &t)
{
    net_records::putMac(p, t.mac);
    net_records::putOctets(p + 6, 4, t.ip);
    net_records::putOctets(p + 10, 4, t.mask);
    net_records::putOctets(p + 14, 4, t.gateway);
}

} // namespace

uint32_t message_deal::net_ip_set(uint8_t *body)
{
    if (m_body_len < 28) {
        body[10] = 1;   // the address fields are not all there
        return 1;
    }
    const QString ip = dotted(body + 14);
    const QString mask = dotted(body + 18);
    const QString gateway = dotted(body + 22);
    const int requested = para::get16(body, 26);
    // The port the device will serve: one of the links' own ports is refused
    // for 5005, as it is when read from the store.
    const int port = Utils::tcp_command_port(requested);
    // The port in force now: reloading the store below sets g_port to the new one.
    const int portInForce = g_port.load();
    // The four settings replace the file together. When it cannot take them
    // (a full disk) nothing changes, in the store, on the interface or by a
    // restart: the device stays where the PC tool finds it now and will
    // after a restart, and the reply says the address was not set.
    ConfigEngine *config = ConfigEngine::pInstance();
    const bool stored = config->write_config_variants({{ConfigItem::IPAddress, ip},
                                                       {ConfigItem::GateWay, gateway},
                                                       {ConfigItem::SubNetMask, mask},
                                                       {ConfigItem::TcpPort, unsigned(requested)}});
    if (!stored) {
        body[10] = 1;
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_ip = ip;
        g_srt_mask = mask;
        g_str_gateway = gateway;
    }
    Utils::initIPAddress();

    if (port == portInForce) {
        ZemRamPara::pInstance()->test_signal(1);
    } else {
        g_port = port;
        // Stamped, so that this reply leaves before the tick restarts the device.
        G_reboot_tickTicks = G_timeTicks.load();
        g_app_reset_flag = 1;
    }
    body[10] = 0;
    return 1;
}

uint32_t message_deal::init_MAC_address(uint8_t *body)
{
    if (m_body_len < 19) {
        body[10] = 1;
        body[11] = 0;
        return 2;
    }
    const QString mac = QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", body[13], body[14], body[15],
                                          body[16], body[17], body[18]);
    const EthTexts t = ethTexts();
    const QString text = QStringLiteral("#start 180503\n"
                                        "\n"
                                        "auto lo\n"
                                        "iface lo inet loopback\n"
                                        "\n"
                                        "auto eth0\n"
                                        "iface eth0 inet static\n"
                                        "address %1\n"
                                        "netmask %2\n"
                                        "metric 1\n"
                                        "hwaddress ether %3\n"
                                        "#\n"
                                        "\n"
                                        "#end\n")
                             .arg(t.ip, t.mask, mac);
    const QByteArray bytes = text.toLatin1();
    platform::ensureDir("/etc/network");
    // When the file cannot take the address (a full disk) nothing changes:
    // the interface keeps the address it has and will have after a restart.
    if (!platform::files::writeAtomic(kInterfacesFile, bytes.constData(), size_t(bytes.size()))) {
        writeLogMsg(LOG_ERROR, "network interfaces file could not be written");
        body[10] = 1;
        body[11] = 0;
        return 2;
    }
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_mac = mac;
    }
    platform::files::sync();
    int status = 0;
    if (Utils::system_mutex(QStringLiteral("ifdown eth0 -f;ifup eth0 -f"), &status) != 0)
        debugPrint("eth0 restart failed: %d\n", status);
    Utils::init_resteth(t.ip, t.gateway, t.mask);
    body[10] = 0;
    body[11] = 0;
    return 2;
}

uint32_t message_deal::net_eth_search(uint8_t *body)
{
    std::string out = Utils::shell_exec("ifconfig eth0 | grep HWaddr | awk '{print $5}'", 100);
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_mac = QString::fromLatin1(out.c_str()).trimmed();
    }
    body[10] = 0;
    body[11] = 3;
    body[12] = 22;
    body[13] = 0;
    body[14] = 0;
    putEthRecord(body + 15, ethTexts());
    const int port = g_port.load();
    body[33] = uint8_t(port);
    body[34] = uint8_t(port >> 8);
    return 25;
}

uint32_t message_deal::get_device_info(uint8_t *body)
{
    const uint8_t head[11] = {0, 16, 0x8D, 1, 1, 0x52, 0x97, 0x43, 11, 0, 2};
    std::memcpy(body + 10, head, sizeof head);
    QByteArray barcode, pid;
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        barcode = g_str_barcode.toUtf8();
        pid = g_pid.toLatin1();
    }
    net_records::putText(body + 21, 16, barcode);
    net_records::putText(body + 37, 32, pid);
    std::memset(body + 69, 0, 128);
    const EthTexts t = ethTexts();
    net_records::putMac(body + 197, t.mac);
    const int port = g_port.load();
    body[203] = uint8_t(port);
    body[204] = uint8_t(port >> 8);
    net_records::putOctets(body + 205, 4, t.ip);
    net_records::putOctets(body + 209, 4, t.mask);
    net_records::putOctets(body + 213, 4, t.gateway);

    QString wifi[17];
    if (!wifiSettings(wifi)) {
        // The record's length without the WiFi part still covers bytes
        // 217..242: they go out as zeros, never as a previous reply's bytes.
        std::memset(body + 217, 0, 26);
        return 233;
    }
    net_records::putWifiPart(body, wifi);
    return 394;
}
