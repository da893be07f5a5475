#ifndef PLATFORM_FILES_H
#define PLATFORM_FILES_H

// File operations on absolute program paths (placed under the root). They are
// library calls, never shell strings, so a name from outside can never reach a
// shell. Writes replace files atomically: a temporary file in the same folder
// is written, flushed and renamed over the old one.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace files {

bool exists(const std::string &absolute);

// Removes a file or a whole folder; true when nothing is left at the path.
bool remove(const std::string &absolute);

// Copies src over dst atomically; false (dst untouched) on any error.
bool copy(const std::string &src, const std::string &dst);

// Renames src to dst (same file system); false on error.
bool move(const std::string &src, const std::string &dst);

// Writes len bytes as the new content of the file: a temporary file beside
// it is written, made durable with one fsync and renamed over it, and one
// fsync of the folder makes the rename durable. On failure the previous file
// is left as it was and the temporary file removed.
bool writeAtomic(const std::string &absolute, const void *data, size_t len);

// Reads a whole file; false when it cannot be opened.
bool readAll(const std::string &absolute, std::string &out);

// Removes the temporary and staged files that writes cut short by a power
// loss left under `absoluteDir` (and its folders); returns how many were
// removed.
int removeStaleTemporaries(const std::string &absoluteDir);

// Flushes file-system buffers to storage (the board's "sync").
void sync();

// Sets bytes [from, to) of an open host file to `value`, growing the file as
// needed (the simulated flashes keep their cells in such files); false on a
// write error.
bool fillHost(int hostFd, uint64_t from, uint64_t to, unsigned char value);

namespace testing {
// Makes the next atomic write fail after `bytes` bytes reached the temporary
// file, as a power cut or a full flash would.
void failNextWriteAfter(size_t bytes);
void clearFailure();
// The fsyncs of files and of folders since the last call.
struct SyncCounts {
    unsigned files, folders;
};
SyncCounts takeSyncCounts();
} // namespace testing

} // namespace files
} // namespace platform

#endif
