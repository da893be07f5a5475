// Network reset of the change dispatcher (notification code 3).

#include "app/syncupdate.h"

#include "app/config_engine.h"
#include "app/global.h"
#include "app/utils.h"

#include <QVariant>

void SyncUpdate::network_reset()
{
    ConfigEngine *config = ConfigEngine::p_config;
    if (config) {
        config->write_config_variant(ConfigItem::IPAddress, QVariant(QStringLiteral("192.168.0.199")));
        config->write_config_variant(ConfigItem::GateWay, QVariant(QStringLiteral("192.168.0.1")));
        config->write_config_variant(ConfigItem::SubNetMask, QVariant(QStringLiteral("255.255.255.0")));
    }
    Utils::initIPAddress();
    if (g_port == 5005)
        return;
    if (config)
        config->write_config_variant(ConfigItem::TcpPort, QVariant(5005));
    g_port = 5005;
    // The tick restarts the device 300 ticks after this stamp.
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
}
