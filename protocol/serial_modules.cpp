#include "protocol/serial_modules.h"

#include "app/logMsg.h"
#include "platform/devices.h"
#include "platform/platform.h"
#include "platform/serial.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <thread>

namespace {

const int speed_arr[] = {B115200, B57600, B38400, B19200, B9600, B4800, B2400, B1200, B300};
const int name_arr[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200, 300};

} // namespace

int serial_modules::ttyS_Open(int port, int speed, int flags)
{
    const std::string name = platform::devices::serialPort(port);
    int fd = platform::serial::open(name, flags);
    if (fd < 0) {
        debugPrint("Can't Open Serial Port %s\n", platform::path(name).c_str());
        return -1;
    }
    if (!platform::serial::isTerminal(fd)) {
        debugPrint("This is not a tty device");
        platform::serial::close(fd);
        return -1;
    }
    int bits = 0;
    if (platform::serial::getModem(fd, &bits) < 0) {
        debugPrint("Ioctl error on setting 485 configure:\n");
    } else {
        platform::serial::setModem(fd, bits | platform::serial::MODEM_RTS);   // receive direction
    }
    if (UartSetParity(fd, 8, 1, 'n') < 0 || UartSetSpeed(fd, speed) < 0) {
        platform::serial::close(fd);
        return -1;
    }
    return fd;
}

int serial_modules::UartSetParity(int fd, int databits, int stopbits, char parity)
{
    struct termios opt;
    if (platform::serial::getAttr(fd, &opt) != 0) {
        debugPrint("SetupSerial Error 1");
        return -1;
    }
    opt.c_oflag &= ~tcflag_t(OPOST | OLCUC);
    opt.c_lflag &= ~tcflag_t(ISIG | ICANON | ECHO | ECHOE);
    opt.c_iflag &= ~tcflag_t(ICRNL | IXON);
    opt.c_cflag &= ~tcflag_t(CSIZE);
    switch (databits) {
    case 7: opt.c_cflag |= CS7; break;
    case 8: opt.c_cflag |= CS8; break;
    default: debugPrint("Unsupported data size\n"); return -1;
    }
    switch (parity) {
    case 'n': case 'N':
        opt.c_cflag &= ~tcflag_t(PARENB);
        opt.c_iflag &= ~tcflag_t(INPCK);
        break;
    case 'o': case 'O':
        opt.c_cflag |= PARODD | PARENB;
        opt.c_iflag |= INPCK | ISTRIP;
        break;
    case 'e': case 'E':
        opt.c_cflag |= PARENB;
        opt.c_cflag &= ~tcflag_t(PARODD);
        opt.c_iflag |= INPCK;
        break;
    case 's': case 'S':
        opt.c_cflag &= ~tcflag_t(PARENB);
        opt.c_cflag &= ~tcflag_t(CSTOPB);
        break;
    default: debugPrint("Unsupported parity\n"); return -1;
    }
    switch (stopbits) {
    case 1: opt.c_cflag &= ~tcflag_t(CSTOPB); break;
    case 2: opt.c_cflag |= CSTOPB; break;
    default: debugPrint("Unsupported stop bits\n"); return -1;
    }
    if (parity != 'n' && parity != 'N')
        opt.c_iflag |= INPCK;
    opt.c_cc[VTIME] = 1;
    opt.c_cc[VMIN] = 1;
    platform::serial::flush(fd, TCIFLUSH);
    if (platform::serial::setAttrNow(fd, &opt) != 0) {
        debugPrint("SetupSerial Error 3");
        return -1;
    }
    return 0;
}

int serial_modules::UartSetSpeed(int fd, int speed)
{
    struct termios opt;
    if (platform::serial::getAttr(fd, &opt) != 0)
        return -1;
    for (size_t i = 0; i < sizeof name_arr / sizeof name_arr[0]; ++i) {
        if (speed != name_arr[i])
            continue;
        cfsetispeed(&opt, speed_t(speed_arr[i]));
        cfsetospeed(&opt, speed_t(speed_arr[i]));
        platform::serial::flush(fd, TCIOFLUSH);
        return platform::serial::setAttrNow(fd, &opt) == 0 ? 0 : -1;
    }
    return -1;
}

int serial_modules::serial_init(int port, int speed, int flags)
{
    int fd = ttyS_Open(port, speed, flags);
    if (fd >= 0)
        m_fds.insert(fd);
    return fd;
}

int serial_modules::recv_uart_data(Uart_Rec_Send_Data &rec, int max)
{
    if (rec.fd < 0 || m_fds.find(rec.fd) == m_fds.end())
        return -1;
    if (rec.data.size() < size_t(max))
        rec.data.resize(size_t(max));
    ssize_t n = platform::serial::read(rec.fd, rec.data.data(), size_t(max));
    m_line_gone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    if (n <= 0)
        return -1;
    rec.count = int(n);
    return int(n);
}

serial_modules::Line serial_modules::wait_line(int fd, int wakeFd, int timeoutMs)
{
    // poll() skips negative descriptors, so either entry may be absent.
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int r = ::poll(p, 2, timeoutMs);
    m_woken = r > 0 && p[1].revents;
    if (r <= 0 || fd < 0)
        return Line::Quiet;
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))
        return Line::HungUp;
    return (p[0].revents & POLLIN) ? Line::Readable : Line::Quiet;
}

int serial_modules::uart_send(const Uart_Rec_Send_Data &rec)
{
    if (rec.fd < 0)
        return -1;
    int bits = 0;
    bool direction = platform::serial::getModem(rec.fd, &bits) == 0;
    if (direction)
        platform::serial::setModem(rec.fd, bits & ~platform::serial::MODEM_RTS);   // transmit
    std::this_thread::sleep_for(std::chrono::microseconds(2000));
    ssize_t w = platform::serial::writeAll(rec.fd, rec.data.data(), size_t(rec.count));
    platform::serial::drain(rec.fd);
    if (direction && platform::serial::getModem(rec.fd, &bits) == 0)
        platform::serial::setModem(rec.fd, bits | platform::serial::MODEM_RTS);    // receive
    return int(w);
}

void serial_modules::close_port(int fd)
{
    if (m_fds.erase(fd))
        platform::serial::close(fd);
}

void serial_modules::close_all()
{
    for (int fd : m_fds)
        platform::serial::close(fd);
    m_fds.clear();
}
