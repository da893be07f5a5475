#include "app/utils.h"
#include "platform/mtd.h"

// Raw flash partitions: the caller opens the partition (platform::mtd::open),
// erases the range, writes it and closes the descriptor. A failure leaves the
// partition as far as it got; nothing is retried.

namespace {

constexpr int ERASE_FAILED = 8;
constexpr int WRITE_FAILED = 1;

} // namespace

// Erases the erase blocks covering [start, start + length), unlocking each
// first when asked. 0, or 8 when the geometry cannot be read or a block
// cannot be unlocked or erased.
int Utils::non_region_erase(int fd, uint32_t start, uint32_t length, int unlock)
{
    platform::mtd::Info info;
    if (platform::mtd::getInfo(fd, info) != 0 || info.erasesize == 0)
        return ERASE_FAILED;
    const uint64_t blocks = (uint64_t(length) + info.erasesize - 1) / info.erasesize;
    if (uint64_t(start) + blocks * info.erasesize > UINT32_MAX + uint64_t(1))
        return ERASE_FAILED;
    uint32_t offset = start;
    for (uint64_t i = 0; i < blocks; ++i, offset += info.erasesize) {
        if (unlock && platform::mtd::unlock(fd, offset, info.erasesize) != 0)
            return ERASE_FAILED;
        if (platform::mtd::erase(fd, offset, info.erasesize) != 0)
            return ERASE_FAILED;
    }
    return 0;
}

// Writes the bytes at `start` in whole write units, then the remainder in one
// shorter write. 0, or 1 when the geometry cannot be read or a write is short.
int Utils::non_region_write(int fd, const uint8_t *data, uint32_t length, uint32_t start)
{
    platform::mtd::Info info;
    if (platform::mtd::getInfo(fd, info) != 0)
        return WRITE_FAILED;
    const uint32_t unit = info.writesize ? info.writesize : 1;
    if (uint64_t(start) + length > UINT32_MAX + uint64_t(1))
        return WRITE_FAILED;
    uint32_t done = 0;
    while (length - done >= unit) {
        if (platform::mtd::pwrite(fd, data + done, unit, start + done) != ssize_t(unit))
            return WRITE_FAILED;
        done += unit;
    }
    const uint32_t rest = length - done;
    if (rest && platform::mtd::pwrite(fd, data + done, rest, start + done) != ssize_t(rest))
        return WRITE_FAILED;
    return 0;
}
