#ifndef CLOUD_MESSAGE_DEAL_4G_H
#define CLOUD_MESSAGE_DEAL_4G_H

// The 4G text sub-protocol (command 0xC4) and the stored cloud properties.
// Each command handler owns one of these.

#include <cstdint>

// 4G information block: byte 0 mark 0xAA, 1..55 version, ICCID, IMSI, IMEI,
// byte 56 path-active flag.
extern uint8_t g_4G_RAM[256];
// Stored cloud properties: bytes 0..23 device id (hex text), 25..36 the same
// id as 12 bytes, 68..71 server IPv4 address, u16 at 126 server port.
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
    int get_4G_property();
};

#endif
