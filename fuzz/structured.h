#ifndef FUZZ_STRUCTURED_H
#define FUZZ_STRUCTURED_H

// The structured input of the link fuzz target, shared by the target, its
// seed corpus and the whole-program fuzz client (device_fuzz.cpp).
//
// Byte 0 picks the link (the low bits, modulo the link count) and the mode
// (bit 7 set: structured); byte 1 is the size of the pieces the stream
// arrives in (a serial read, a TCP segment, a datagram; 0: all at once).
// Raw mode: the rest is the byte stream as it arrives on the link.
// Structured mode: the rest is a run of records, each a 16-bit little-endian
// length and that many body bytes without the XOR; the XOR and the escaping
// are added when the bodies become frames (frames.h), so that mutations
// reach the handlers instead of failing the checks.
//
// Also here: builders of request bodies, and valid requests of each command
// family (the seeds of the corpus).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace fuzzin {

using Bytes = std::vector<uint8_t>;

enum class Link { Rs485, Module4G, Tcp5005, Tcp10002, Udp5008, Udp10005, Count };
constexpr uint8_t STRUCTURED = 0x80;

inline Link linkOf(uint8_t byte0) { return Link(byte0 % STRUCTURED % int(Link::Count)); }
// Link, piece size and bodies in the structured form.
Bytes structured(Link link, uint8_t piece, const std::vector<Bytes> &bodies);
// The bodies of a structured input's records (from byte 2 on); a last record
// longer than what is left is cut.
std::vector<Bytes> bodiesOf(const uint8_t *p, size_t n);

constexpr uint16_t CONTROLLER = 0xF101;
constexpr uint16_t REMOTE = 0xF200;   // the sending card, answered by the controller
constexpr uint16_t CARD = 0x0001;     // a receiving card: passed through
constexpr uint16_t PC = 0xF010;

Bytes le(uint32_t v, int bytes);
Bytes cat(std::initializer_list<Bytes> parts);
Bytes text(const std::string &s);
// A request body without its XOR: header, command, sub-command, operands.
Bytes request(uint16_t dest, uint8_t cmd, uint8_t sub, const Bytes &operands = {});
Bytes ramWrite(uint16_t dest, uint32_t address, const Bytes &data);
Bytes ramRead(uint16_t dest, uint32_t address, uint16_t len);
// Flash commands: the address's top byte names the flash of the controller.
Bytes flash(uint16_t dest, uint8_t cmd, uint32_t address, const Bytes &operands);
// Controller register write (0xA0): register, mask, value.
Bytes registerWrite(uint8_t reg, uint8_t mask, uint8_t value);
// File transfer (0xC0): a typed start, a block, the end with the digest.
Bytes fileStart(const std::string &tag, uint8_t subtype, uint32_t total);
Bytes fileBlock(uint32_t offset, const Bytes &data);
Bytes fileEnd(const Bytes &digest);

// One seed: the requests of a command family, in order, as one exchange.
struct Seed {
    const char *name;
    std::vector<Bytes> requests;
};
std::vector<Seed> seeds();

} // namespace fuzzin

#endif
