#ifndef PLATFORM_SERIAL_H
#define PLATFORM_SERIAL_H

// Serial lines ("/dev/ttyS%d" under the root). Line set-up is real termios in
// both backends (in simulation the path is whatever a test or the run script
// linked there, usually a pseudo-terminal). The RS-485 direction line (RTS)
// is driven with TIOCMGET/TIOCMSET on the device; in simulation it is kept
// per descriptor and every change is recorded with a timestamp, because
// pseudo-terminals refuse TIOCMSET.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <vector>

namespace platform {
namespace serial {

// Opens a program path ("/dev/ttyS2") with open(2) flags; a descriptor or -1.
// In simulation only a pseudo-terminal end is opened there.
int open(const std::string &absolute, int flags);
void close(int fd);
bool isTerminal(int fd);

int getAttr(int fd, struct termios *t);
int setAttrNow(int fd, const struct termios *t);
int flush(int fd, int queue);      // TCIFLUSH, TCOFLUSH, TCIOFLUSH
int drain(int fd);

// Modem-control bits (TIOCM_*); -1 on error.
constexpr int MODEM_RTS = TIOCM_RTS;
int getModem(int fd, int *bits);
int setModem(int fd, int bits);

ssize_t read(int fd, void *buf, size_t n);
ssize_t write(int fd, const void *buf, size_t n);

// Writes all `n` bytes, waiting for room on a non-blocking port, for at most
// `timeoutMs` in total. Returns the number written (n when whole), or -1 when
// nothing could be written.
ssize_t writeAll(int fd, const void *buf, size_t n, int timeoutMs = 2000);

namespace sim {

enum class Event { Transmit, FirstByte, Drained, Receive };

struct Record {
    std::chrono::steady_clock::time_point when;
    Event event;
};

// Direction changes and write events of every simulated port, in order; the
// oldest are dropped beyond LOG_LIMIT (four records per reply).
constexpr size_t LOG_LIMIT = 4096;
std::vector<Record> directionLog();
void clearDirectionLog();

} // namespace sim
} // namespace serial
} // namespace platform

#endif
