#include "app/config_engine.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"
#include "platform/devmem.h"
#include "platform/files.h"
#include "platform/platform.h"

#include <QSettings>
#include <QStringList>
#include <memory>
#include <mutex>

ConfigEngine *ConfigEngine::p_config = nullptr;
QMap<QString, ConfigItem::ConfigName> ConfigEngine::_itemMap;
std::mutex ConfigEngine::s_mutex;

namespace {

const char *const kConfigFile = "/data/configs/tcpip.ini";
const char *const kLauncherFile = "/data/configs/led_load_config.ini";
const char *const kLauncherEntry = "/data/app/zemR47N -platform linuxfb";

// SoC registers: the unique id and the control register whose bit 8 gates it.
const uint32_t kSocBase = 0x1F000000;
const uint32_t kSocLength = 0x2B0000;
const uint32_t kSocControl = 0x1F00400C;
const uint32_t kSocIdA = 0x1F004058;
const uint32_t kSocIdB = 0x1F00405C;
const uint32_t kSocIdC = 0x1F004060;

struct ItemDef {
    ConfigItem::ConfigName id;
    const char *key;
    uint8_t type;
    QVariant defaultValue;
};

std::vector<ItemDef> itemDefs()
{
    return {
        {ConfigItem::TcpPort, "config/TcpPort", 1, 5005},
        {ConfigItem::UdpPort, "config/UdpPort", 1, 5008},
        {ConfigItem::IPAddress, "config/IPAddress", 0, QStringLiteral("192.168.0.199")},
        {ConfigItem::SubNetMask, "config/SubNetMask", 0, QStringLiteral("255.255.255.0")},
        {ConfigItem::GateWay, "config/GateWay", 0, QStringLiteral("192.168.0.1")},
        {ConfigItem::MAC, "config/MAC", 0, QStringLiteral("FF:FF:FF:FF:FF:FF")},
        {ConfigItem::Barcode, "config/Barcode", 0, QStringLiteral(" ")},
        {ConfigItem::WifiIPAddress, "config/WifiIPAddress", 0, QStringLiteral("192.168.22.101")},
        {ConfigItem::EDIDCheck, "config/EDIDCheck", 0, QStringLiteral("Once")},
        {ConfigItem::SourceCheck, "config/SourceCheck", 1, 255},
        {ConfigItem::ImageLayoutPassword, "config/ImageLayoutPassword", 0, QStringLiteral("jV")},
        {ConfigItem::Kumocloudserverip, "config/Kumocloudserverip", 0, QStringLiteral(" ")},
        {ConfigItem::Kumocloudserverport, "config/Kumocloudserverport", 1, QStringLiteral(" ")},
        {ConfigItem::Kumoclouduserip, "config/Kumoclouduserip", 0, QStringLiteral(" ")},
        {ConfigItem::Kumocloudcontrollername, "config/Kumocloudcontrollername", 0, QStringLiteral(" ")},
        {ConfigItem::ZemMaxPixel_UINT, "config/ZemMaxPixel_UINT", 1, 0xC80000},
        {ConfigItem::usbupgradedir, "config/usbupgradedir", 0, QStringLiteral("ZEM-R25")},
        {ConfigItem::ZemLCDLang, "config/ZemLCDLang", 1, 0x1001F},
    };
}

std::mutex &instanceMutex()
{
    static std::mutex m;
    return m;
}

bool hasText(const QVariant &v)
{
    return v.isValid() && !v.toString().isEmpty();
}

// What a restart loads for an item: its stored text when not empty, else its
// default (invalid when that is empty too).
QVariant loadedValue(const QVariant &stored, const QVariant &defaultValue)
{
    if (hasText(stored))
        return stored;
    return hasText(defaultValue) ? defaultValue : QVariant();
}

// The INI file for QSettings, or null when its path holds something QSettings
// must not be given: it would block on a FIFO, read a device without end and
// write back through a link onto the link's target. Such a file is left as
// it is and taken for one that cannot be read or written.
std::unique_ptr<QSettings> openSettings(const QString &file)
{
    if (!platform::files::safeToOpen(file.toStdString(), platform::files::Kind::Settings)) {
        writeLogMsg(LOG_ERROR,
                    "ConfigEngine: %s is not a regular file of at most %zu bytes in the root; "
                    "left as it is, defaults used",
                    qPrintable(file), platform::files::maxSize(platform::files::Kind::Settings));
        return nullptr;
    }
    return std::unique_ptr<QSettings>(new QSettings(platform::qpath(file), QSettings::IniFormat));
}

// Whether the INI file may be written: QSettings also creates, reads and
// removes its lock file beside it and would block for ever on a FIFO there.
// A lock file that is no regular file inside the root is left as it is and
// the file taken for one that cannot be written.
bool settingsWritable(const QString &file)
{
    if (platform::files::settingsWritable(file.toStdString()))
        return true;
    writeLogMsg(LOG_ERROR, "ConfigEngine: %s or its lock file is not a regular file in the root; not written",
                qPrintable(file));
    return false;
}

int nib(uint16_t reg, int n)
{
    return (reg >> (4 * n)) & 0xF;
}

} // namespace

ConfigEngine::ConfigEngine()
{
    std::lock_guard<std::mutex> lock(s_mutex);
    platform::ensureDir("/data/configs");
    const QString file = QString::fromLatin1(kConfigFile);
    const std::unique_ptr<QSettings> settings = openSettings(file);
    const bool writable = settings && settingsWritable(file);
    for (const ItemDef &def : itemDefs()) {
        ConfigItem item;
        item.key = QString::fromLatin1(def.key);
        item.id = def.id;
        item.defaultValue = def.defaultValue;
        item.noWrite = false;
        item.type = def.type;
        item.filePath = QString::fromLatin1(kConfigFile);
        _itemMap.insert(item.key, item.id);

        const QVariant stored = settings ? settings->value(item.key) : QVariant();
        item.value = loadedValue(stored, item.defaultValue);
        if (writable && !hasText(stored) && item.value.isValid() && !item.noWrite)
            settings->setValue(item.key, item.defaultValue);
        m_items.push_back(item);
    }
    if (writable)
        settings->sync();
}

ConfigEngine::~ConfigEngine() = default;

ConfigEngine *ConfigEngine::pInstance()
{
    std::lock_guard<std::mutex> lock(instanceMutex());
    if (p_config)
        return p_config;
    p_config = new ConfigEngine;
    p_config->startUp();
    return p_config;
}

void ConfigEngine::resetInstance()
{
    std::lock_guard<std::mutex> lock(instanceMutex());
    delete p_config;
    p_config = nullptr;
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName id)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    if (id < 0 || static_cast<size_t>(id) >= m_items.size())
        return QVariant();
    return m_items[static_cast<size_t>(id)].value;
}

bool ConfigEngine::write_config_variant(ConfigItem::ConfigName id, const QVariant &value)
{
    return write_config_variants({{id, value}});
}

bool ConfigEngine::write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>> &items)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    QString file;
    QStringList keys;
    QList<QVariant> values;
    QList<ConfigItem *> stored;
    for (const auto &entry : items) {
        if (entry.first < 0 || static_cast<size_t>(entry.first) >= m_items.size())
            continue;
        ConfigItem &item = m_items[static_cast<size_t>(entry.first)];
        const QString key = _itemMap.key(entry.first);
        if (item.noWrite || item.filePath.isEmpty() || key.isEmpty()) {
            item.value = entry.second;
            continue;
        }
        file = item.filePath;   // every item lives in the one configuration file
        keys << key;
        values << entry.second;
        stored << &item;
    }
    if (keys.isEmpty())
        return true;
    const std::unique_ptr<QSettings> opened = openSettings(file);
    if (!opened || !settingsWritable(file))
        return false;
    QSettings &settings = *opened;
    QList<QVariant> before;
    for (const QString &key : qAsConst(keys))
        before << (settings.contains(key) ? settings.value(key) : QVariant());
    for (int i = 0; i < keys.size(); ++i)
        settings.setValue(keys[i], values[i]);
    settings.sync();
    if (settings.status() == QSettings::NoError) {
        for (int i = 0; i < stored.size(); ++i)
            stored[i]->value = values[i];
        return true;
    }
    // Qt keeps a change it could not write in its cache of the file, answers
    // it to the next reader and writes it with the next item stored: the
    // file's own values go back in its place, so the file and what is read
    // from it stay one.
    for (int i = 0; i < keys.size(); ++i) {
        if (before[i].isValid())
            settings.setValue(keys[i], before[i]);
        else
            settings.remove(keys[i]);
    }
    writeLogMsg(LOG_ERROR, "ConfigEngine: the configuration file could not be written");
    return false;
}

QVariant ConfigEngine::reload_config_variant(ConfigItem::ConfigName id)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    if (id < 0 || static_cast<size_t>(id) >= m_items.size())
        return QVariant();
    ConfigItem &item = m_items[static_cast<size_t>(id)];
    const QString key = _itemMap.key(id);
    if (item.filePath.isEmpty() || key.isEmpty())
        return item.value;
    // A new QSettings reads the file again when it changed since Qt last read it.
    const std::unique_ptr<QSettings> settings = openSettings(item.filePath);
    const QVariant stored = settings ? settings->value(key) : QVariant();
    item.value = loadedValue(stored, item.defaultValue);
    return item.value;
}

QString ConfigEngine::device_id(uint16_t a, uint16_t b, uint16_t c)
{
    const int A3 = nib(a, 3), A2 = nib(a, 2), A1 = nib(a, 1), A0 = nib(a, 0);
    const int B3 = nib(b, 3), B2 = nib(b, 2), B1 = nib(b, 1), B0 = nib(b, 0);
    const int C3 = nib(c, 3), C2 = nib(c, 2), C1 = nib(c, 1), C0 = nib(c, 0);
    const int digits[32] = {
        A3, B3, C3, B1, C1, C0, C2,
        (A3 + B3) % 2,
        (C3 + B1) / 2,
        B0, B2,
        (C0 + C1) / 2,
        (A3 + B3) / 2,
        (C0 + C1) % 2,
        (C3 + B1) % 2,
        A2, A1,
        (C2 + B0) % 2,
        (B2 + A2) % 2,
        (A1 + A0) % 2,
        (A1 + A0) / 2,
        (A3 + B3 + C3) % 3, (A3 + B3 + C3) / 3,
        (A3 + B2 + A2) % 3, (A3 + B2 + A2) / 3,
        (B1 + C2 + A1) % 3, (B1 + C2 + A1) / 3,
        (C1 + B0 + A0) % 3, (C1 + B0 + A0) / 3,
        (B2 + A2) / 2,
        (C2 + B0) / 2,
        A0,
    };
    QString out;
    for (int d : digits)
        out += QLatin1Char("0123456789abcdef"[d]);
    return out;
}

bool ConfigEngine::read_soc_id()
{
    std::unique_ptr<platform::devmem::Window> soc = platform::devmem::map(kSocBase, kSocLength);
    if (!soc) {
        // Without the SoC registers the id stays unknown; everything else goes on.
        writeLogMsg(LOG_ERROR, "ConfigEngine: SoC id registers not available");
        return false;
    }
    soc->write16(kSocControl, static_cast<uint16_t>(soc->read16(kSocControl) & ~0x0100u));
    const uint16_t a = soc->read16(kSocIdA);
    const uint16_t b = soc->read16(kSocIdB);
    const uint16_t c = soc->read16(kSocIdC);
    soc.reset();
    QString pid = device_id(a, b, c);
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    g_pid = pid;
    return true;
}

void ConfigEngine::startUp()
{
    read_soc_id();

    Utils::getIPAddress();
    Utils::initIPAddress();

    const std::unique_ptr<QSettings> launcher = openSettings(QString::fromLatin1(kLauncherFile));
    const QString appPath = launcher ? launcher->value(QStringLiteral("app-1/app_path")).toString() : QString();
    g_update_status = appPath == QLatin1String(kLauncherEntry) ? 1 : 0;

    factoryage_log.clear();
    factoryage_log_num = 0;
}
