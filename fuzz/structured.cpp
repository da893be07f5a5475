#include "fuzz/structured.h"

#include <algorithm>

namespace fuzzin {

Bytes le(uint32_t v, int bytes)
{
    Bytes b;
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes structured(Link link, uint8_t piece, const std::vector<Bytes> &bodies)
{
    Bytes out = {uint8_t(STRUCTURED | uint8_t(link)), piece};
    for (const Bytes &b : bodies) {
        const Bytes len = le(uint32_t(b.size()), 2);
        out.insert(out.end(), len.begin(), len.end());
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<Bytes> bodiesOf(const uint8_t *p, size_t n)
{
    std::vector<Bytes> bodies;
    while (n >= 2) {
        size_t len = std::min<size_t>(size_t(p[0] | (p[1] << 8)), n - 2);
        bodies.emplace_back(p + 2, p + 2 + len);
        p += 2 + len;
        n -= 2 + len;
    }
    return bodies;
}

Bytes request(uint16_t dest, uint8_t cmd, uint8_t sub, const Bytes &operands)
{
    return cat({le(dest, 2), le(PC, 2), le(uint32_t(operands.size() + 1), 2), {0, 0, 0, cmd, sub}, operands});
}

Bytes ramWrite(uint16_t dest, uint32_t address, const Bytes &data)
{
    Bytes a = le(address, 4);
    return request(dest, 0x60, a[0], cat({Bytes(a.begin() + 1, a.end()), le(uint32_t(data.size()), 2), {0, 0}, data}));
}

Bytes ramRead(uint16_t dest, uint32_t address, uint16_t len)
{
    Bytes a = le(address, 4);
    return request(dest, 0x61, a[0], cat({Bytes(a.begin() + 1, a.end()), le(len, 2)}));
}

Bytes flash(uint16_t dest, uint8_t cmd, uint32_t address, const Bytes &operands)
{
    Bytes a = le(address, 4);
    return request(dest, cmd, a[0], cat({Bytes(a.begin() + 1, a.end()), operands}));
}

Bytes registerWrite(uint8_t reg, uint8_t mask, uint8_t value)
{
    return request(CONTROLLER, 0xA0, reg, {mask, 0, value});
}

Bytes fileStart(const std::string &tag, uint8_t subtype, uint32_t total)
{
    return request(CONTROLLER, 0xC0, 1, cat({{0, 0}, text(tag), {subtype}, le(total, 4)}));
}

Bytes fileBlock(uint32_t offset, const Bytes &data)
{
    return request(CONTROLLER, 0xC0, 2, cat({{0, 0, 0, 0}, le(offset, 4), le(uint32_t(data.size()), 4), data}));
}

Bytes fileEnd(const Bytes &digest) { return request(CONTROLLER, 0xC0, 3, cat({{0, 0, 0, 0}, digest})); }

std::vector<Seed> seeds()
{
    const Bytes tail = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    return {
        {"ram_write", {ramWrite(CONTROLLER, 100, {0xA5, 0x5A, 0xA6, 0x5B}), ramWrite(CONTROLLER, 0x3000, {0xAA, 0xAA}),
                       ramWrite(CONTROLLER, 0xA1000000, {0xAA, 7}), ramWrite(CONTROLLER, 0, {})}},
        {"ram_write_remote", {ramWrite(REMOTE, 8, {1, 2, 3, 4}), ramWrite(REMOTE, 0x800, {1, 2}),
                              ramWrite(REMOTE, 0x01002000, {9}), ramWrite(REMOTE, 0x06000000, Bytes(262, 1))}},
        {"ram_read", {ramRead(CONTROLLER, 0, 64), ramRead(CONTROLLER, 0x3000, 8), ramRead(CONTROLLER, 0x600440, 2),
                      ramRead(CONTROLLER, 0xA0000000, 16), ramRead(CONTROLLER, 0xA1000000, 8),
                      ramRead(CONTROLLER, 0x800000, 4), ramRead(REMOTE, 0x800, 100)}},
        {"para_save_version_uid", {request(CONTROLLER, 0x81, 0), request(CONTROLLER, 0x82, 0),
                                   request(CONTROLLER, 0x83, 0), request(REMOTE, 0x84, 2)}},
        {"flash", {flash(CONTROLLER, 0x70, 0x04000000, {1, 1}),
                   flash(CONTROLLER, 0x71, 0x04000000, {4, 0, 0, 0, 1, 2, 3, 4}),
                   flash(CONTROLLER, 0x72, 0x04000000, {4, 0}), flash(CONTROLLER, 0x70, 0x03010000, {2, 1}),
                   flash(REMOTE, 0x71, 0x10000, {2, 0, 0, 0, 7, 8}), flash(REMOTE, 0x72, 0x10000, {2, 0}),
                   flash(CONTROLLER, 0x72, 0x08000000, {8, 0})}},
        {"clock", {request(CONTROLLER, 0x87, 0x24, {0x20, 0x06, 0x15, 0x12, 0x30, 0x45})}},
        {"register", {registerWrite(11, 0xFF, 1), registerWrite(14, 0xFF, 2), registerWrite(163, 0xFF, 3),
                      request(REMOTE, 0xA0, 23, {0x40, 0, 0x40}), request(CONTROLLER, 0xA1, 4),
                      request(REMOTE, 0xA1, 64)}},
        {"barcode_languages", {request(CONTROLLER, 0xA2, 30, cat({le(10, 2), text("ZEM0001")})),
                               request(CONTROLLER, 0xA2, 31), request(CONTROLLER, 0xA2, 32, le(0x13, 4))}},
        {"network", {request(CONTROLLER, 0xA4, 3), request(CONTROLLER, 0xA4, 16),
                     request(CONTROLLER, 0xA4, 0, {0, 0, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55}),
                     request(CONTROLLER, 0xA4, 1, cat({{0, 0, 0}, {192, 168, 0, 50}, {255, 255, 255, 0},
                                                     {192, 168, 0, 1}, le(5005, 2)}))}},
        {"single_parameters", {request(CONTROLLER, 0xB0, 0x31, {0, 6, 50, 0, 10, 2, 0, 21, 3, 0, 54, 1, 0, 93, 1, 0})}},
        {"file_write", {fileStart("ALIS", 4, 16), fileBlock(0, tail), fileEnd(Bytes(16, 0))}},
        {"file_defined", {request(CONTROLLER, 0xC0, 7, cat({{0, 0}, le(4, 2), text("card"), {13}, le(4, 4)})),
                          fileBlock(0, {1, 2, 3, 4}), request(CONTROLLER, 0xC0, 8, text("card")),
                          request(CONTROLLER, 0xC0, 9), request(CONTROLLER, 0xC0, 10)}},
        {"file_read", {request(CONTROLLER, 0xC0, 4, cat({{0, 0}, text("ALIS")})),
                       request(CONTROLLER, 0xC0, 5, cat({{0, 0, 0, 0}, le(0, 4), le(64, 4)})),
                       request(CONTROLLER, 0xC0, 6)}},
        {"edid", {request(CONTROLLER, 0xC1, 1, cat({le(1, 2), {0, 0, 0, 0}, le(264, 2), Bytes(264, 0x11)})),
                  request(CONTROLLER, 0xC1, 2, le(1, 2))}},
        {"cloud_files", {request(CONTROLLER, 0xCC, 0, cat({{2, 0, 0}, le(8, 4), {1}})),
                         request(CONTROLLER, 0xC5, 0, cat({{2, 0, 0}, le(0, 4), le(8, 4), Bytes(8, 0x41)})),
                         request(CONTROLLER, 0xC6, 0, {2}), request(CONTROLLER, 0xC8, 0, {4}),
                         request(CONTROLLER, 0xC9, 0, cat({{4, 0, 0}, le(0, 4), le(8, 4)})),
                         request(CONTROLLER, 0xCA, 0, {4}), request(CONTROLLER, 0xC7, 0),
                         request(CONTROLLER, 0xCB, 0)}},
        {"module_4g", {request(CONTROLLER, 0xC4, 0, text("AT+VER")), request(CONTROLLER, 0x8E, 0),
                       request(CONTROLLER, 0x8F, 0)}},
        {"card_frames", {request(CARD, 2, 0, Bytes(12, 0x11)), request(CARD, 0x10, 0, {1, 2, 3})}},
    };
}

} // namespace fuzzin
