#include "support/pctool.h"

#include <QCoreApplication>
#include <poll.h>
#include <unistd.h>

namespace pctool {

Bytes body(uint16_t dest, uint16_t src, uint8_t cmd, uint8_t sub, const Bytes &payload, uint8_t sel6, uint8_t sel7)
{
    Bytes b = {uint8_t(dest), uint8_t(dest >> 8), uint8_t(src), uint8_t(src >> 8), 0, 0, sel6, sel7, 0, cmd, sub};
    uint16_t len = uint16_t(payload.size() + 1);
    b[4] = uint8_t(len);
    b[5] = uint8_t(len >> 8);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes withXor(Bytes b)
{
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    b.push_back(x);
    return b;
}

Bytes frameRaw(const Bytes &b)
{
    Bytes w = {0xA5};
    for (uint8_t v : b) {
        switch (v) {
        case 0xA5: w.push_back(0xA6); w.push_back(0x02); break;
        case 0xA6: w.push_back(0xA6); w.push_back(0x01); break;
        case 0x5A: w.push_back(0x5B); w.push_back(0x02); break;
        case 0x5B: w.push_back(0x5B); w.push_back(0x01); break;
        default: w.push_back(v); break;
        }
    }
    w.push_back(0x5A);
    return w;
}

Bytes frame(const Bytes &b) { return frameRaw(withXor(b)); }

namespace {
// Address (bytes 10-13) and bytes 14 and 15, as the address commands lay them out.
Bytes addressed(uint16_t dest, uint8_t cmd, uint32_t address, uint16_t word14, uint8_t sel6, uint8_t sel7)
{
    return body(dest, PC, cmd, uint8_t(address),
                {uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24), uint8_t(word14), uint8_t(word14 >> 8)},
                sel6, sel7);
}

// Two unused bytes, then the data (from body byte 18).
Bytes withData(Bytes b, const Bytes &data)
{
    b.push_back(0);
    b.push_back(0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
} // namespace

Bytes ramWrite(uint16_t dest, uint32_t address, const Bytes &data, uint8_t sel6, uint8_t sel7)
{
    return withData(addressed(dest, 0x60, address, uint16_t(data.size()), sel6, sel7), data);
}

Bytes ramRead(uint16_t dest, uint32_t address, uint16_t len, uint8_t sel6, uint8_t sel7)
{
    return withData(addressed(dest, 0x61, address, len, sel6, sel7), {});
}

Bytes flashErase(uint16_t dest, uint32_t address, uint8_t mode, uint8_t count, uint8_t sel6, uint8_t sel7)
{
    return addressed(dest, 0x70, address, uint16_t(mode | count << 8), sel6, sel7);
}

Bytes flashWrite(uint16_t dest, uint32_t address, const Bytes &data, uint8_t sel6, uint8_t sel7)
{
    return withData(addressed(dest, 0x71, address, uint16_t(data.size()), sel6, sel7), data);
}

Bytes flashRead(uint16_t dest, uint32_t address, uint16_t len, uint8_t sel6, uint8_t sel7)
{
    return addressed(dest, 0x72, address, len, sel6, sel7);
}

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7);
    return b;
}

std::vector<Bytes> decodeAll(const Bytes &wire)
{
    std::vector<Bytes> out;
    Bytes cur;
    bool in = false;
    int esc = 0;
    for (uint8_t v : wire) {
        if (v == 0xA5) {
            in = true;
            cur.clear();
            esc = 0;
            continue;
        }
        if (!in)
            continue;
        if (v == 0x5A) {
            uint8_t x = 0;
            for (size_t i = 0; i + 1 < cur.size(); ++i)
                x ^= cur[i];
            if (cur.size() >= 2 && x == cur.back())
                out.push_back(cur);
            in = false;
            continue;
        }
        if (v == 0xA6 || v == 0x5B) {
            esc = v;
            continue;
        }
        if (esc && v == 0x02)
            cur.push_back(esc == 0xA6 ? 0xA5 : 0x5A);
        else if (esc && v == 0x01)
            cur.push_back(esc == 0xA6 ? 0xA6 : 0x5B);
        else
            cur.push_back(v);
        esc = 0;
    }
    return out;
}

Bytes decode(const Bytes &wire)
{
    std::vector<Bytes> all = decodeAll(wire);
    return all.empty() ? Bytes() : all.front();
}

Bytes readFrames(int fd, size_t count, std::chrono::milliseconds timeout)
{
    Bytes out;
    size_t ends = 0;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ends < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        bool app = QCoreApplication::instance() != nullptr;
        if (app)
            QCoreApplication::processEvents();
        pollfd p = {fd, POLLIN, 0};
        int r = ::poll(&p, 1, app ? std::min<int>(10, int(left.count())) : int(left.count()));
        if (r <= 0)
            continue;
        uint8_t buf[8192];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            continue;
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == 0x5A)
                ++ends;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

bool writeAll(int fd, const Bytes &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace pctool
