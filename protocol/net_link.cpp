#include "protocol/net_link.h"

#include "app/utils.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int open_bound_socket(int type, uint32_t port, int option)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, "socket error:%m");
        debugPrint("socket error:%m\n");
        return -1;
    }
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, option, &one, sizeof one) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(uint16_t(port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        writeLogMsg(LOG_ERROR, "bind error:%m");
        debugPrint("bind error:%m\n");
        ::close(fd);
        return -1;
    }
    return fd;
}

frame_link::Config net_port_config(uint8_t transport, bool controllerOnly, bool replyOnZero, uint32_t recordSize)
{
    frame_link::Config c;
    c.transport = transport;
    c.passThrough = !controllerOnly;
    c.ackCommand2 = true;
    c.replyOnZero = replyOnZero;
    c.recordSize = recordSize;
    c.pcStamp = controllerOnly ? frame_link::PcStamp::None : frame_link::PcStamp::BeforeChecks;
    return c;
}

bool net_thread::start(void *(*entry)(void *), void *arg, const char *what, const std::string &name)
{
    if (pthread_create(&m_thread, nullptr, entry, arg) != 0) {
        writeLogMsg(LOG_ERROR, "%s thread not started", what);
        return false;
    }
    Utils::name_thread(m_thread, name);
    m_running = true;
    return true;
}

void net_thread::join()
{
    if (!m_running)
        return;
    pthread_join(m_thread, nullptr);
    m_running = false;
}
