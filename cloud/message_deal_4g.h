#ifndef CLOUD_MESSAGE_DEAL_4G_H
#define CLOUD_MESSAGE_DEAL_4G_H

// The 4G text sub-protocol (command 0xC4) and the stored cloud properties.
// Each command handler owns one of these.

#include <cstdint>

// 4G information block: byte 0 mark 0xAA, 1..55 version, ICCID, IMSI, IMEI,
// byte 56 path-active flag. The links write and read it at the same time as
// a reload: through message_deal_4g (write_4G_RAM, copy_4G_RAM), under the
// properties' lock.
extern uint8_t g_4G_RAM[256];
// Stored cloud properties: bytes 0..23 device id (hex text), 25..36 the same
// id as 12 bytes, 68..71 server IPv4 address, u16 at 126 server port. The
// command links reload, write and read it at the same time: they go through
// message_deal_4g (get_4G_property, set_cloud_id, copy_4G_property), which
// take its lock.
extern uint8_t g_4G_property[256];

// Reconnect requests, set to 1 after a cloud settings file is stored; the 4G
// thread and the cloud client thread act on them and clear them.
extern uint8_t g_reconfig_4g;               // under Utils::_reconfig_4g_mutex
extern uint8_t g_rconfig_device_kumocloud;  // under Utils::_reconfig_device_kumocloud_mutex

class message_deal_4g
{
public:
    message_deal_4g() {}
    // Handles a 0xC4 body; returns the reply length (0: no reply).
    int message_deal_4G(uint8_t *body);
    // Reloads the cloud properties (g_4G_property) from
    // /data/configs/cloud_setinfo and the 4G information block (g_4G_RAM)
    // from /data/configs/cloud_barcode. A missing file leaves its block as it
    // is; 0 when every file present was reloaded, 1 when one could not be.
    // The cloud id set from the barcode (set_cloud_id) stays as it was set.
    int get_4G_property();

    // The 12-byte cloud id the barcode gives (bytes 25..36 of the
    // properties), kept through every later reload.
    static void set_cloud_id(const uint8_t id[12]);
    // A copy of the cloud properties, taken under their lock.
    static void copy_4G_property(uint8_t out[sizeof g_4G_property]);
    // Writes `len` bytes of the 4G information block from byte `at`, and
    // copies them out; what lies past the block is not written and reads 0.
    static void write_4G_RAM(uint32_t at, const uint8_t *data, uint32_t len);
    static void copy_4G_RAM(uint8_t *out, uint32_t at, uint32_t len);
    // Tests only: clears the properties and forgets the barcode's cloud id.
    static void resetForTest();
};

#endif
