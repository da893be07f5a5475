// Configuration globals and Ethernet set-up of eth0.

#include "app/config_engine.h"
#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"

#include <QStringList>
#include <mutex>

namespace {

QString itemText(ConfigEngine *config, ConfigItem::ConfigName id)
{
    return config->read_config_variant(id).toString();
}

int itemInt(ConfigEngine *config, ConfigItem::ConfigName id, bool *ok = nullptr)
{
    return config->read_config_variant(id).toString().trimmed().toInt(ok);
}

// Dotted IPv4 text: four decimal fields of 1 to 3 digits, each 0 to 255.
// Only such texts may reach a shell command.
bool isDottedIPv4(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return false;
    for (const QString &f : fields) {
        if (f.isEmpty() || f.size() > 3)
            return false;
        for (QChar ch : f) {
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return false;
        }
        if (f.toInt() > 255)
            return false;
    }
    return true;
}

bool addressesValid(const QString &address, const QString &netmask, const QString &gateway)
{
    if (isDottedIPv4(address) && isDottedIPv4(netmask) && isDottedIPv4(gateway))
        return true;
    writeLogMsg(LOG_ERROR, "Ethernet set-up refused: invalid address text");
    return false;
}

} // namespace

void Utils::getIPAddress()
{
    ConfigEngine *config = ConfigEngine::p_config;
    if (!config)
        return;

    const QString ip = itemText(config, ConfigItem::IPAddress);
    const QString gateway = itemText(config, ConfigItem::GateWay);
    const QString mask = itemText(config, ConfigItem::SubNetMask);
    bool portOk = false;
    int port = itemInt(config, ConfigItem::TcpPort, &portOk);
    port = portOk ? tcp_command_port(port) : DEFAULT_TCP_PORT;
    const QString barcode = itemText(config, ConfigItem::Barcode);
    const QString wifiIp = itemText(config, ConfigItem::WifiIPAddress);
    const QString edid = itemText(config, ConfigItem::EDIDCheck);
    const QString password = itemText(config, ConfigItem::ImageLayoutPassword);
    const int sourceCheck = itemInt(config, ConfigItem::SourceCheck);
    const QString cloudIp = itemText(config, ConfigItem::Kumocloudserverip);
    const int cloudPort = itemInt(config, ConfigItem::Kumocloudserverport);
    const QString cloudUser = itemText(config, ConfigItem::Kumoclouduserip);
    const QString cloudName = itemText(config, ConfigItem::Kumocloudcontrollername);
    const int maxPixel = itemInt(config, ConfigItem::ZemMaxPixel_UINT);
    const QString usbDir = itemText(config, ConfigItem::usbupgradedir);
    const u32 lcdLang = static_cast<u32>(itemInt(config, ConfigItem::ZemLCDLang));

    const QString blank = QStringLiteral(" ");
    const bool cloud = cloudIp != blank || cloudUser != blank || cloudName != blank || cloudPort != 0;

    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_ip = ip;
        g_str_gateway = gateway;
        g_srt_mask = mask;
        g_str_barcode = barcode;
        g_str_wifi_ip = wifiIp;
        g_check_edid = edid;
        g_imagelayoutpassword = password;
        g_Kumo_cloudserverip = cloudIp;
        g_Kumo_clouduserid = cloudUser;
        g_Kumo_controllername = cloudName;
        g_usb_grade_path = usbDir;
    }
    g_port = port;
    g_int_tcp_port = g_port.load();
    g_check_source = sourceCheck;
    g_Kumo_cloudserverport = cloudPort;
    g_Kumo_cloud = cloud ? 1 : 0;
    g_zem_max_pixel = maxPixel;
    g_lcd_lang_valid = lcdLang;
}

int Utils::tcp_command_port(int configured)
{
    const bool taken = configured == TCP_CONTROLLER_PORT || configured == UDP_COMMAND_PORT ||
                       configured == UDP_CONTROLLER_PORT || configured == UDP_WIFI_PORT;
    return configured < 1 || configured > 65535 || taken ? DEFAULT_TCP_PORT : configured;
}

int Utils::initIPAddress()
{
    if (system_mutex(QStringLiteral("ifconfig eth0 &>/dev/null")) != 0)
        return 255;
    getIPAddress();

    QString ip, mask, gateway;
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        ip = g_str_ip;
        mask = g_srt_mask;
        gateway = g_str_gateway;
    }
    if (!addressesValid(ip, mask, gateway))
        return 255;

    system_mutex(QStringLiteral("route del default wlan0"));
    system_mutex(QStringLiteral("ifconfig eth0 %1 netmask %2 up").arg(ip, mask));
    system_mutex(QStringLiteral("route add -host %1 dev eth0").arg(gateway));
    system_mutex(QStringLiteral("route add default gw %1 metric 100").arg(gateway));
    system_mutex(QStringLiteral("ip route add default via %1 dev eth0").arg(gateway));
    system_mutex(QStringLiteral("route add -host 255.255.255.255 eth0"));
    system_mutex(QStringLiteral("route del 255.255.255.255 wlan1"));
    return 0;
}

int Utils::init_resteth(const QString &address, const QString &gateway, const QString &netmask)
{
    if (!addressesValid(address, netmask, gateway))
        return 255;
    if (system_mutex(QStringLiteral("ifconfig eth0 &>/dev/null")) != 0)
        return 255;

    system_mutex(QStringLiteral("route del default wlan0"));
    system_mutex(QStringLiteral("ifconfig eth0 %1 netmask %2").arg(address, netmask));
    system_mutex(QStringLiteral("route add -host %1 dev eth0").arg(gateway));
    system_mutex(QStringLiteral("route add default gw %1 metric 100").arg(gateway));
    system_mutex(QStringLiteral("route add -host 255.255.255.255 eth0"));
    system_mutex(QStringLiteral("route del 255.255.255.255 wlan1"));
    return 0;
}
