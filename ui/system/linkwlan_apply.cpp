// Applying the Ethernet page: the configuration store, then the interface.

#include "ui/system/linkwlan.h"

#include "app/utils.h"
#include "app/zemrampara.h"

#include <QStringList>
#include <QVariant>

#include "app/config_engine.h"

namespace {
bool dottedIPv4(const QString &s)
{
    const QStringList parts = s.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &p : parts) {
        if (p.isEmpty() || p.size() > 3 || p.toUInt() > 255)
            return false;
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
    }
    return true;
}
} // namespace

linkwlan::Applied linkwlan::apply(const QString &ip, const QString &mask, const QString &gateway)
{
    if (!dottedIPv4(ip) || !dottedIPv4(mask) || !dottedIPv4(gateway))
        return Applied::Invalid;
    ConfigEngine *config = ConfigEngine::p_config;
    // When the file cannot take them the interface keeps the address a
    // restart would give it.
    if (config && !config->write_config_variants({{ConfigItem::IPAddress, QVariant(ip)},
                                                  {ConfigItem::SubNetMask, QVariant(mask)},
                                                  {ConfigItem::GateWay, QVariant(gateway)}}))
        return Applied::NotStored;
    Utils::initIPAddress();
    if (ZemRamPara::p_zemrampara_config)
        ZemRamPara::p_zemrampara_config->test_signal(1);
    return Applied::Done;
}
