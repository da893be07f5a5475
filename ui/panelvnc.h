#ifndef UI_PANELVNC_H
#define UI_PANELVNC_H

// The front panel on Qt's VNC platform (a machine without the LCD). The
// platform opens its port only once the event loop runs and tells how that
// went in a message among Qt's others on standard error; the program listens
// for that message so that its summary of links can say whether the panel
// can be reached.

#include <QString>

namespace ui {

// The port a platform choice serves the panel on ("vnc" 5900,
// "vnc:size=320x240:port=5901" 5901); -1 when it is no VNC platform.
int vncPort(const QString &platform);

// The platform choice Qt takes: the last -platform (or --platform) argument,
// else QT_QPA_PLATFORM.
QString platformChoice(int argc, char **argv);

struct VncServer {
    int port = -1;       // -1: the panel is not on the VNC platform
    bool open = false;   // the server said it listens on the port
};

// Called before the QApplication is made: notes the VNC port of the platform
// choice and, for VNC, hears Qt's messages (each still goes where it went).
void watchVnc(int argc, char **argv);
VncServer vncServer();

} // namespace ui

#endif
