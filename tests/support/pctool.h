#ifndef TESTS_SUPPORT_PCTOOL_H
#define TESTS_SUPPORT_PCTOOL_H

// A small PC-tool client: builds command frames as the PC tool sends them,
// reads the controller's reply frames back from a stream (serial line or
// TCP socket) and checks them.

#include <chrono>
#include <cstdint>
#include <vector>

namespace pctool {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t CONTROLLER = 0xF101;
constexpr uint16_t PC = 0xF010;

// Body without its XOR: dest, src, length word, selectors, header, command,
// sub-command, payload.
Bytes body(uint16_t dest, uint16_t src, uint8_t cmd, uint8_t sub, const Bytes &payload = {},
           uint8_t sel6 = 0, uint8_t sel7 = 0);
// Appends the XOR of the body.
Bytes withXor(Bytes b);
// A5, escaped body and XOR, 5A (as the PC tool sends it).
Bytes frame(const Bytes &bodyWithoutXor);
// Escapes a body that already carries its XOR byte (or a wrong one).
Bytes frameRaw(const Bytes &bodyWithXor);

// 0x60 and 0x61 request bodies.
Bytes ramWrite(uint16_t dest, uint32_t address, const Bytes &data, uint8_t sel6 = 0, uint8_t sel7 = 0);
Bytes ramRead(uint16_t dest, uint32_t address, uint16_t len, uint8_t sel6 = 0, uint8_t sel7 = 0);
// 0x70, 0x71 and 0x72 request bodies (flash number in the address's top
// byte for the controller; FPGA in sel6 / sel7 for the sending card).
Bytes flashErase(uint16_t dest, uint32_t address, uint8_t mode, uint8_t count, uint8_t sel6 = 0, uint8_t sel7 = 0);
Bytes flashWrite(uint16_t dest, uint32_t address, const Bytes &data, uint8_t sel6 = 0, uint8_t sel7 = 0);
Bytes flashRead(uint16_t dest, uint32_t address, uint16_t len, uint8_t sel6 = 0, uint8_t sel7 = 0);

// Test data: n bytes, each different from its neighbours, varied by seed.
Bytes pattern(size_t n, uint8_t seed);

// Un-escapes the first frame of `wire` (XOR checked); the body with its XOR,
// or empty when there is no good frame.
Bytes decode(const Bytes &wire);
// Reply data after the 10-byte header (status and payload), without the XOR.
inline Bytes payload(const Bytes &reply)
{
    return reply.size() > 11 ? Bytes(reply.begin() + 10, reply.end() - 1) : Bytes();
}
// Every good frame in `wire`, in order.
std::vector<Bytes> decodeAll(const Bytes &wire);

// Reads from a descriptor until `count` whole frames (A5 ... 5A) came or the
// timeout passed; runs the Qt event loop of this thread meanwhile when there
// is an application, so that work handed to the GUI thread proceeds.
Bytes readFrames(int fd, size_t count, std::chrono::milliseconds timeout);
bool writeAll(int fd, const Bytes &bytes);

} // namespace pctool

#endif
