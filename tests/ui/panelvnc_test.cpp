// The VNC port the panel is served on, read from the platform choice as Qt
// reads it: the last -platform argument, else QT_QPA_PLATFORM; a VNC
// platform's port is its last "port=N" option, 5900 without one.

#include "ui/panelvnc.h"

#include <gtest/gtest.h>
#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace {

TEST(PanelVnc, PortComesFromTheLastPlatformChoice)
{
    const QByteArray env = qgetenv("QT_QPA_PLATFORM");
    const struct {
        std::vector<const char *> args;
        const char *env;
        int port;   // -1: no VNC platform
    } cases[] = {
        {{}, "offscreen", -1},
        {{}, "vnc", 5900},
        {{"-platform", "vnc:size=320x240:port=5901:mmsize=85x64"}, "offscreen", 5901},
        {{"--platform", "VNC:port=5902"}, "", 5902},
        {{"-platform", "vnc:port=5903:port=5904"}, "", 5904},
        {{"-platform", "vnc:port=x"}, "", 5900},
        {{"-platform", "vnc:port=5901", "-platform", "linuxfb"}, "", -1},
        {{"-platform", "offscreen"}, "vnc", -1},
        {{"-platform"}, "vnc:port=5905", 5905},   // no value: the environment holds
        {{"vnc:port=5906"}, "", -1},
    };
    for (const auto &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("zemR47N")};
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        qputenv("QT_QPA_PLATFORM", c.env);
        EXPECT_EQ(ui::vncPort(ui::platformChoice(int(argv.size()), argv.data())), c.port)
            << (c.args.empty() ? "" : c.args.back()) << " / " << c.env;
    }
    qputenv("QT_QPA_PLATFORM", env);
}

} // namespace
