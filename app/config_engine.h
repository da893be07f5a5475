#ifndef APP_CONFIG_ENGINE_H
#define APP_CONFIG_ENGINE_H

// The device's INI configuration store (/data/configs/tcpip.ini): network,
// identity, cloud and front-panel settings as typed items. Its start-up also
// reads the SoC's unique id into g_pid, loads the settings into the globals,
// sets up Ethernet and checks the launcher entry.

#include <QList>
#include <QMap>
#include <QPair>
#include <QObject>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <mutex>
#include <vector>

// One setting of the store.
class ConfigItem
{
public:
    enum ConfigName {
        TcpPort = 0,
        UdpPort,
        IPAddress,
        SubNetMask,
        GateWay,
        MAC,
        Barcode,
        WifiIPAddress,
        EDIDCheck,
        SourceCheck,
        ImageLayoutPassword,
        Kumocloudserverip,
        Kumocloudserverport,
        Kumoclouduserip,
        Kumocloudcontrollername,
        ZemMaxPixel_UINT,
        usbupgradedir,
        ZemLCDLang,
        ConfigCount
    };

    QString key;           // as written in the file: "section/name"
    ConfigName id = TcpPort;
    QVariant defaultValue;
    bool noWrite = false;  // never written to its file when set
    uint8_t type = 0;      // 0 text, 1 integer (recorded only)
    QString filePath;      // program path of the INI file
    QVariant value;        // current value; invalid while unset
};

class ConfigEngine : public QObject
{
    Q_OBJECT
public:
    // Builds the items from the file, writing the defaults of missing keys.
    ConfigEngine();
    ~ConfigEngine() override;

    // The store, created on the first call together with the device id, the
    // configuration globals, the Ethernet set-up and the launcher check.
    static ConfigEngine *pInstance();
    static ConfigEngine *p_config;
    // Drops the instance so the next pInstance() starts afresh (a new root in tests).
    static void resetInstance();

    QVariant read_config_variant(ConfigItem::ConfigName id);
    // Sets the item's value and writes it through to its file. False when
    // the file did not take it (a full disk), or when the file or its lock
    // file is no regular file inside the root: the item and the file keep
    // what they held.
    bool write_config_variant(ConfigItem::ConfigName id, const QVariant &value);
    // The same for several items of the file at once: the file is replaced
    // once, so it takes all of them or none.
    bool write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>> &items);
    // Reads the item again from its file as a restart would load it (the
    // stored text when not empty, else the default), keeps that as the
    // item's value and returns it: what a write really left on the disk.
    QVariant reload_config_variant(ConfigItem::ConfigName id);

    // The 32 hex digits of the device id from the three SoC id registers.
    static QString device_id(uint16_t a, uint16_t b, uint16_t c);

    // Key -> id of every item built so far.
    static QMap<QString, ConfigItem::ConfigName> _itemMap;

private:
    // Device id, configuration globals, Ethernet, launcher check, ageing log.
    void startUp();
    static bool read_soc_id();

    std::vector<ConfigItem> m_items;
    static std::mutex s_mutex;  // guards the items, _itemMap and the file writes
};

#endif
