#include "support/vnc_client.h"

#include "support/pc_sockets.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace zemtest {

namespace {

// Reads exactly n bytes within a few seconds.
bool readFully(int fd, void *data, size_t n)
{
    auto *p = static_cast<uint8_t *>(data);
    while (n > 0) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) <= 0)
            return false;
        const ssize_t got = ::read(fd, p, n);
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

uint16_t be16(const uint8_t *b) { return static_cast<uint16_t>((b[0] << 8) | b[1]); }
uint32_t be32(const uint8_t *b) { return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3]; }

} // namespace

VncClient::VncClient(int port) : m_fd(tcpConnect(port))
{
    if (m_fd < 0)
        return;
    // Version, security "none" (3.3: a 32-bit type), shared session, server init.
    char version[12];
    uint8_t security[4];
    const uint8_t shared = 1;
    uint8_t init[24];
    bool ok = readFully(m_fd, version, sizeof version) && std::string(version, 4) == "RFB " &&
              send("RFB 003.003\n", 12) && readFully(m_fd, security, sizeof security) && be32(security) == 1 &&
              send(&shared, 1) && readFully(m_fd, init, sizeof init);
    std::vector<uint8_t> name(ok ? be32(init + 20) : 0);
    ok = ok && (name.empty() || readFully(m_fd, name.data(), name.size()));
    if (!ok) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_width = be16(init);
    m_height = be16(init + 2);
}

VncClient::~VncClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool VncClient::send(const void *data, size_t n)
{
    return m_fd >= 0 && ::write(m_fd, data, n) == static_cast<ssize_t>(n);
}

bool VncClient::keyEvent(uint32_t keysym, bool down)
{
    const uint8_t msg[8] = {4, uint8_t(down ? 1 : 0), 0, 0, uint8_t(keysym >> 24), uint8_t(keysym >> 16),
                            uint8_t(keysym >> 8), uint8_t(keysym)};
    return send(msg, sizeof msg);
}

bool VncClient::key(uint32_t keysym)
{
    return keyEvent(keysym, true) && keyEvent(keysym, false);
}

bool VncClient::keys(uint32_t keysym, int times)
{
    for (int i = 0; i < times; ++i)
        if (!key(keysym))
            return false;
    return true;
}

bool VncClient::type(const std::string &text)
{
    for (char c : text)
        if (!key(static_cast<uint8_t>(c)))
            return false;
    return true;
}

} // namespace zemtest
