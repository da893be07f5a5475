#ifndef PROTOCOL_NET_RECORDS_H
#define PROTOCOL_NET_RECORDS_H

// Field writers of the network search and device records. Every field is
// written into its own width, zero-padded; longer texts are cut.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace net_records {

// Dotted decimal text, one byte per part.
void putOctets(uint8_t *field, size_t width, const QString &dotted);
// Colon-separated hexadecimal MAC text into 6 bytes.
void putMac(uint8_t *field, const QString &mac);
// Raw text bytes.
void putText(uint8_t *field, size_t width, const QByteArray &text);
// The WiFi part of the device record (body bytes 217..403) from the WiFi
// manager's 17 settings and the cloud device id.
void putWifiPart(uint8_t *body, const QString wifi[17]);

} // namespace net_records

#endif
