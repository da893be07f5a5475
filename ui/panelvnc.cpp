#include "ui/panelvnc.h"

#include <QRegularExpression>
#include <QtGlobal>
#include <atomic>
#include <cstring>

namespace ui {

namespace {

constexpr int DEFAULT_VNC_PORT = 5900;

std::atomic<int> g_vncPort{-1};
std::atomic<bool> g_vncOpen{false};
std::atomic<QtMessageHandler> g_qtHandler{nullptr};   // where Qt's messages went before

void hearQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QVncServer created on port")))
        g_vncOpen = true;
    g_qtHandler.load()(type, context, message);
}

} // namespace

int vncPort(const QString &platform)
{
    // Read as Qt reads it: the platform's name in any case, then options
    // after colons, the last one holding "port=N" giving the port.
    QStringList parts = platform.split(QLatin1Char(':'));
    if (parts.takeFirst().toLower() != QLatin1String("vnc"))
        return -1;
    static const QRegularExpression portOption(QStringLiteral("port=(\\d+)"));
    int port = DEFAULT_VNC_PORT;
    for (const QString &option : parts) {
        const QRegularExpressionMatch m = portOption.match(option);
        if (m.hasMatch())
            port = quint16(m.captured(1).toInt());
    }
    return port;
}

QString platformChoice(int argc, char **argv)
{
    QString choice = QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM"));
    for (int i = 1; i + 1 < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "-platform") == 0 || std::strcmp(arg, "--platform") == 0)
            choice = QString::fromLocal8Bit(argv[++i]);
    }
    return choice;
}

void watchVnc(int argc, char **argv)
{
    const int port = vncPort(platformChoice(argc, argv));
    g_vncPort = port;
    if (port < 0 || g_qtHandler.load())
        return;
    // Taken before ours is in place, so that no message meets it without
    // somewhere to go on to.
    g_qtHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(hearQtMessage);
}

VncServer vncServer()
{
    VncServer s;
    s.port = g_vncPort;
    s.open = g_vncOpen;
    return s;
}

} // namespace ui
