#ifndef PLATFORM_SPI_H
#define PLATFORM_SPI_H

// SPI access. On the device: spidev (open, mode/word/speed ioctls, message
// transfers). In simulation: models of the chips behind each device path,
// attached by the code that owns them, with each transfer costing the time it
// would take on the real bus.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace platform {
namespace spi {

struct Xfer {
    const uint8_t *tx = nullptr;   // null: send zeros
    uint8_t *rx = nullptr;         // null: discard what comes back
    uint32_t len = 0;
    uint32_t speed_hz = 0;
    uint8_t bits_per_word = 8;
    uint16_t delay_usecs = 0;
    bool cs_change = false;
};

// Every device on the board's SPI bus - the video processing chip, both
// FPGAs and their configuration flashes - runs in mode 3 with 8-bit words.
constexpr uint8_t BUS_MODE = 3;
constexpr uint8_t BUS_BITS = 8;

// The lock of the SPI controller that the video processing chip, both FPGAs
// and their configuration flashes share (Utils::_spi_mutex); every transfer
// is made under it. A plain mutex that also tells the simulated bus whether
// the thread making a transfer holds it.
class BusMutex
{
public:
    void lock();
    bool try_lock();
    void unlock();
    static bool heldByThisThread();

private:
    std::mutex m_mutex;
};

// Opens a device path ("/dev/spidev32766.0"); a descriptor, or -1.
int open(const std::string &absolute);
void close(int fd);

// Writes and reads back mode, word size and maximum speed; 0, or -1 when a
// setting is refused.
int configure(int fd, uint8_t mode, uint8_t bits, uint32_t maxSpeed);

// One message of n transfers with chip select held across them; returns the
// number of bytes moved, or -1.
int transfer(int fd, const Xfer *xfers, unsigned n);

namespace sim {

// A simulated chip on one chip select. transfer() sees each transfer of a
// message in order; endMessage() marks the chip select's release.
class Device
{
public:
    virtual ~Device() {}
    virtual void transfer(const Xfer &x) = 0;
    virtual void endMessage() {}
};

// Places a model behind a device path; replaces any earlier model there.
void attach(const std::string &absolute, std::shared_ptr<Device> device);
std::shared_ptr<Device> attached(const std::string &absolute);
void detachAll();

// Bus time: each transfer costs bits / clock plus a fixed driver cost. The
// cost is accumulated per thread and slept off in slices of at least 1 ms.
// Off (zero) by default; the program switches it on in simulation.
void setBusTiming(bool enabled, uint32_t driverCostNs = 20000);
// Whether the program's simulation wants the bus time: yes, unless
// ZEM_SIM_BUS_TIMING is "0" (to measure the program's own processor time).
bool busTimingWanted();

// Transfers made on a path by a thread that did not hold the bus lock; the
// first one on each path is also reported on standard error.
unsigned unlockedTransfers(const std::string &absolute);

// Makes the next `count` transfers on a path fail with `result`: -1 (an
// error), or 0 (nothing moved).
void failTransfers(const std::string &absolute, unsigned count, int result = -1);

// The settings configure() last gave a descriptor of this path; false when
// none was configured.
struct Settings {
    uint8_t mode = 0;
    uint8_t bits = 0;
    uint32_t maxSpeed = 0;
};
bool settings(const std::string &absolute, Settings &out);

} // namespace sim
} // namespace spi
} // namespace platform

#endif
