#ifndef PLATFORM_FILES_H
#define PLATFORM_FILES_H

// File operations on absolute program paths (placed under the root). They are
// library calls, never shell strings, so a name from outside can never reach a
// shell. Writes replace files atomically: a temporary file in the same folder
// is written, flushed and renamed over the old one. Everything that creates,
// writes, renames, copies, truncates or removes a file or folder goes through
// one check, checkedPath, so that nothing outside the root is changed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {
namespace files {

// The kinds of file the program reads. Each has a largest size it can
// have; no reader takes more than that from it, however long the file is.
enum class Kind {
    ParameterImage,     // /data/ram_device_info
    UserMode,           // /data/modes/custom_mode1 to 16
    OsdMenu,            // /data/configs/omenu.json and its copies /data/modes/MOxx.json
    AliasNames,         // /data/configs/alias.json
    Settings,           // the INI files: tcpip.ini, led_load_config.ini
    CloudSettings,      // /data/configs/cloud_setinfo
    CloudCertificate,   // /data/configs/cloud_cafile
    ModuleInfo,         // /data/configs/cloud_barcode
    EdidTable,          // /data/edidramtable/*.bin
    SimInputs,          // the simulation's list of sources
};
size_t maxSize(Kind kind);

bool exists(const std::string &absolute);

// The check in front of every change at a program path: the host path, or an
// empty text when the path is refused. Refused are a path the root refuses
// (relative, or with a ".." step), one whose folder, links resolved, lies
// outside the root, and one that is itself a link leading out of the root or
// nowhere. On the device the root is "/" and holds every path.
std::string checkedPath(const std::string &absolute);

// Removes a file or a whole folder (links in it are removed, never followed);
// true when nothing is left at the path, false when the check refuses it.
bool remove(const std::string &absolute);

// Copies src (a file of `kind`) over dst atomically; false (dst untouched)
// on any error, and when src is no regular file or longer than its kind can be.
bool copy(const std::string &src, const std::string &dst, Kind kind);

// Renames src to dst (same file system); false on error, and when the check
// refuses either path.
bool move(const std::string &src, const std::string &dst);

// Makes one folder (mode 0755) whose parent exists, through the check; true
// when a folder is there afterwards.
bool makeDir(const std::string &absolute);

// Opens a file to be written where it is (a log, a simulated flash or
// register file), creating it (mode 0644) when missing: through the check,
// and only a regular file, or a link to one inside the root. A FIFO, a
// device or a folder is never opened. `flags` are open(2)'s access mode and
// O_APPEND / O_TRUNC; -1 when refused.
int openForWriting(const std::string &absolute, int flags);

// Makes a FIFO (mode 0600) at a program path, through the check; true when
// a FIFO is there afterwards.
bool makeFifo(const std::string &absolute);

// Sets the permission bits of a folder and of everything below it. Links are
// neither followed nor changed; false when the check refuses the folder or a
// change fails.
bool setPermissionsBelow(const std::string &absoluteDir, unsigned mode);

// Whether QSettings may write the INI file at `absolute`. It replaces the
// file through a temporary file beside it and takes the lock file
// "<file>.lock" beside it (created, read when present, removed): the check
// must pass for both, and each must be missing or a regular file inside the
// root. A FIFO at the lock would hold the write for ever.
bool settingsWritable(const std::string &absolute);

// Writes len bytes as the new content of the file: a temporary file beside
// it is written, made durable with one fsync and renamed over it, and one
// fsync of the folder makes the rename durable. On failure the previous file
// is left as it was and the temporary file removed.
bool writeAtomic(const std::string &absolute, const void *data, size_t len);

// Reads at most maxSize(kind) bytes of a file; `*longer` (when given) tells
// whether the file holds more. Only a regular file, or a link to one, is
// read: a FIFO, a device or a folder is never opened and gives false, as a
// missing file does, so that no reader blocks on it or reads without end.
bool readAll(const std::string &absolute, Kind kind, std::string &out, bool *longer = nullptr);

// Opens a regular file, or a link to one, for reading ("rb"), with its size
// in `*size`; null for a missing file and for a FIFO, a device or a folder,
// which are never opened in a way that blocks.
std::FILE *openRegular(const std::string &absolute, uint64_t *size);

// Whether a reader that opens the file itself (QSettings reads it whole and
// writes back through links) may be given the path: true when nothing is
// there (in a folder inside the root), or when it leads to a regular file
// inside the root of at most maxSize(kind) bytes. A FIFO, a device, a
// folder, a dangling link or one leading out of the root is refused. The
// check comes before that reader opens the path: it guards the program's own
// folders against what was left in them, not against a racing writer.
bool safeToOpen(const std::string &absolute, Kind kind);

// Removes the temporary and staged files that writes cut short by a power
// loss left under `absoluteDir` (and its folders, links not followed), each
// through the check; returns how many were removed.
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
