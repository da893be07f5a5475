#ifndef TESTS_SUPPORT_VNC_CLIENT_H
#define TESTS_SUPPORT_VNC_CLIENT_H

// A person at the front panel, through the program's VNC server: a minimal
// RFB client (protocol 3.3, no security) that presses keys. It never asks for
// the picture; the tests read the panel with the program's own capture.

#include <cstdint>
#include <string>

namespace zemtest {

class VncClient
{
public:
    // Keysyms of the keys the tests use (printable ones are their ASCII code).
    enum Key : uint32_t { SPACE = 0x20, BACKSPACE = 0xFF08, TAB = 0xFF09, ESCAPE = 0xFF1B, END = 0xFF57 };

    // Connects to 127.0.0.1:port and completes the handshake.
    explicit VncClient(int port);
    ~VncClient();
    VncClient(const VncClient &) = delete;
    VncClient &operator=(const VncClient &) = delete;

    bool ok() const { return m_fd >= 0; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // Presses and releases one key.
    bool key(uint32_t keysym);
    // Presses `keysym` `times` times.
    bool keys(uint32_t keysym, int times);
    // Types printable ASCII text.
    bool type(const std::string &text);

private:
    bool send(const void *data, size_t n);
    bool keyEvent(uint32_t keysym, bool down);

    int m_fd = -1;
    int m_width = 0;
    int m_height = 0;
};

} // namespace zemtest

#endif
