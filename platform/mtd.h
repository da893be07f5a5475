#ifndef PLATFORM_MTD_H
#define PLATFORM_MTD_H

// Raw flash partitions (MTD). On the device: the partition's character device
// with the MEMGETINFO, MEMUNLOCK and MEMERASE requests and pwrite. In
// simulation: one file per partition under the root ("/dev/mtd8" is kept in
// /sim/mtd8.bin), with NOR-flash behaviour: an erase sets whole erase blocks
// to 0xFF, a write can only clear bits, locked blocks refuse to erase.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {
namespace mtd {

// Partition geometry as the driver reports it.
struct Info {
    uint32_t size = 0;        // bytes in the partition
    uint32_t erasesize = 0;   // bytes per erase block
    uint32_t writesize = 0;   // bytes per write unit
};

// Opens a partition ("/dev/mtd10") for reading and writing with synchronous
// writes; a descriptor, or -1.
int open(const std::string &absolute);
void close(int fd);

// MEMGETINFO; 0, or -1 when the driver refuses.
int getInfo(int fd, Info &info);
// MEMUNLOCK and MEMERASE of [start, start + length); 0, or -1.
int unlock(int fd, uint32_t start, uint32_t length);
int erase(int fd, uint32_t start, uint32_t length);

// Bytes written or read at an offset (may be short at the end of the
// partition), or -1.
ssize_t pwrite(int fd, const void *data, size_t length, uint32_t offset);
ssize_t pread(int fd, void *data, size_t length, uint32_t offset);

namespace testing {
// Takes the place of the kernel's MEMGETINFO, MEMUNLOCK and MEMERASE in the
// device backend: gets the request and its argument (mtd_info_user or
// erase_info_user, <mtd/mtd-user.h>) as the driver would and returns what
// the ioctl would. Null: the kernel again.
using KernelIoctl = int (*)(int fd, unsigned long request, void *arg);
void setKernelIoctl(KernelIoctl ioctl);
} // namespace testing

namespace sim {

enum class Op { Open, GetInfo, Unlock, Erase, Write };

// One request a simulated partition received, in order.
struct Request {
    Op op;
    std::string device;    // absolute program path, "/dev/mtd8"
    uint32_t offset;
    uint32_t length;
    bool ok;
};

// Default geometry: erase blocks of 0x10000 bytes, write units of 0x800 bytes;
// /dev/mtd8 holds 0x60000 bytes, /dev/mtd10 0x500000, any other 0x100000.
constexpr uint32_t DEFAULT_ERASESIZE = 0x10000;
constexpr uint32_t DEFAULT_WRITESIZE = 0x800;

// Program path of the file that holds a simulated partition.
std::string backingFile(const std::string &device);

// Geometry of a partition opened from now on.
void setGeometry(const std::string &device, const Info &info);
// Locks every erase block of a partition (as after power-up on a flash that
// powers up locked); MEMUNLOCK opens them again.
void lockAll(const std::string &device);

// Makes a later request of a kind fail: the next `skip` requests succeed, the
// one after fails (open returns -1, an ioctl -1, a write -1 with EIO).
void failRequest(Op op, unsigned skip = 0);

// The requests received, oldest first: the newest LOG_LIMIT of them.
constexpr size_t LOG_LIMIT = 4096;
std::vector<Request> log();
void clearLog();

// Forgets geometry, locks, pending failures and the log. The state is kept
// per root, so a new root starts clean as well.
void reset();

} // namespace sim
} // namespace mtd
} // namespace platform

#endif
