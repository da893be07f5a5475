#include "platform/files.h"
#include "platform/platform.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform {
namespace files {
namespace {

std::atomic<long long> g_failAfter{-1};
std::atomic<unsigned> g_fileSyncs{0};
std::atomic<unsigned> g_folderSyncs{0};

// Consumes an injected failure: the number of bytes allowed, or -1 for none.
long long takeFailure()
{
    return g_failAfter.exchange(-1);
}

bool writeFully(int fd, const char *data, size_t len)
{
    while (len > 0) {
        ssize_t n = ::write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void syncDir(const std::string &file)
{
    std::string dir = QFileInfo(QString::fromStdString(file)).absolutePath().toStdString();
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
        ++g_folderSyncs;
    }
}

// ".tmp<pid>.<count>": each temporary file has a name of its own, so that two
// threads storing the same file never write into one shared temporary and
// rename each other's. removeStaleTemporaries knows the pattern.
std::string temporarySuffix()
{
    static std::atomic<unsigned long> s_count{0};
    return ".tmp" + std::to_string(::getpid()) + "." + std::to_string(++s_count);
}

bool writeAtomicReal(const std::string &target, const char *data, size_t len)
{
    std::string tmp = target + temporarySuffix();
    // A leftover of an earlier run cut off by a power loss may carry the same
    // name (same process id after a boot), or something else may: it is
    // removed and the file made afresh, so that no write goes through a link
    // or blocks on a FIFO left there.
    ::unlink(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    long long allowed = takeFailure();
    bool ok;
    if (allowed >= 0 && static_cast<size_t>(allowed) < len) {
        writeFully(fd, data, static_cast<size_t>(allowed));
        ok = false;
    } else {
        ok = writeFully(fd, data, len) && ::fsync(fd) == 0;
        ++g_fileSyncs;
    }
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    syncDir(target);
    return true;
}

// The largest file of each kind: a parameter image and a user mode are
// 4096 bytes; menu, alias and certificate files are what one file transfer
// can carry (5 MiB); the cloud settings are a 3-byte header and at most
// 65533 bytes behind it; the module block is 256 bytes; an EDID file has a
// 16-bit length; INI files and the source list are a few lines of text.
struct Bound {
    Kind kind;
    size_t bytes;
};
constexpr Bound kBounds[] = {
    {Kind::ParameterImage, 4096},
    {Kind::UserMode, 4096},
    {Kind::OsdMenu, 5 * 1024 * 1024},
    {Kind::AliasNames, 5 * 1024 * 1024},
    {Kind::Settings, 64 * 1024},
    {Kind::CloudSettings, 64 * 1024},
    {Kind::CloudCertificate, 5 * 1024 * 1024},
    {Kind::ModuleInfo, 256},
    {Kind::EdidTable, 64 * 1024 - 1},
    {Kind::SimInputs, 64 * 1024},
};

bool isRegular(const struct stat &st) { return S_ISREG(st.st_mode); }

// Reads up to `limit` bytes of an open regular file; `*longer` tells whether
// more follows.
bool readUpTo(int fd, size_t limit, std::string &out, bool *longer)
{
    out.clear();
    char chunk[16 * 1024];
    while (out.size() < limit) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(chunk, static_cast<size_t>(n));
    }
    char probe;
    ssize_t n;
    while ((n = ::read(fd, &probe, 1)) < 0 && errno == EINTR) {
    }
    if (longer)
        *longer = n > 0;
    return n >= 0;
}

// Whether the existing `host` lies inside the root, links resolved (always
// on the device).
bool insideRoot(const std::string &host)
{
    if (root() == "/")
        return true;
    char resolvedRoot[PATH_MAX];
    char resolved[PATH_MAX];
    if (!::realpath(root().c_str(), resolvedRoot) || !::realpath(host.c_str(), resolved))
        return false;
    const std::string base(resolvedRoot);
    const std::string inside(resolved);
    return inside == base || inside.compare(0, base.size() + 1, base + "/") == 0;
}

// Whether the folder that holds `host` lies inside the root.
bool folderInsideRoot(const std::string &host)
{
    return insideRoot(QFileInfo(QString::fromStdString(host)).absolutePath().toStdString());
}

// Whether `host` may be created, written, renamed, truncated or removed: its
// folder, links resolved, lies inside the root, and so does what it leads to
// when it is itself a link (a dangling link leads nowhere and is refused).
bool mayChange(const std::string &host)
{
    if (!folderInsideRoot(host))
        return false;
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return true;
    return insideRoot(host);
}

// Names a refused path on standard error, once while the same path is
// refused again and again (the panel status is retried every tick).
void reportRefused(const std::string &absolute)
{
    static std::mutex mutex;
    static std::string last;
    std::lock_guard<std::mutex> lock(mutex);
    if (absolute == last)
        return;
    last = absolute;
    std::fprintf(stderr, "change refused outside the root: %s\n", absolute.c_str());
}

// `fd` while it is open on a regular file; otherwise it is closed and -1
// returned (something else may have taken the file's place).
int regularOnly(int fd, struct stat &st)
{
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !isRegular(st))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens a regular file (or a link to one) for reading: looked at before it
// is opened (opening a device can act on it), and again on the descriptor,
// in case something else took its place. -1 for anything else.
int openRegularFd(const std::string &host, struct stat &st)
{
    if (::stat(host.c_str(), &st) != 0 || !isRegular(st))
        return -1;
    return regularOnly(::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC), st);
}

} // namespace

size_t maxSize(Kind kind)
{
    for (const Bound &b : kBounds)
        if (b.kind == kind)
            return b.bytes;
    return 0;
}

bool exists(const std::string &absolute)
{
    return QFileInfo::exists(QString::fromStdString(path(absolute)));
}

std::string checkedPath(const std::string &absolute)
{
    std::string host = path(absolute);
    if (mayChange(host))
        return host;
    reportRefused(absolute);
    return std::string();
}

bool remove(const std::string &absolute)
{
    const std::string host = checkedPath(absolute);
    if (host.empty())
        return false;
    QString p = QString::fromStdString(host);
    QFileInfo info(p);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return QDir(p).removeRecursively();
    return QFile::remove(p);
}

bool copy(const std::string &src, const std::string &dst, Kind kind)
{
    std::string data;
    bool longer = false;
    if (!readAll(src, kind, data, &longer) || longer)
        return false;
    return writeAtomic(dst, data.data(), data.size());
}

bool move(const std::string &src, const std::string &dst)
{
    const std::string from = checkedPath(src);
    const std::string to = checkedPath(dst);
    if (from.empty() || to.empty() || ::rename(from.c_str(), to.c_str()) != 0)
        return false;
    syncDir(to);
    return true;
}

bool writeAtomic(const std::string &absolute, const void *data, size_t len)
{
    const std::string target = checkedPath(absolute);
    if (target.empty())
        return false;
    return writeAtomicReal(target, static_cast<const char *>(data), len);
}

bool makeDir(const std::string &absolute)
{
    const std::string host = checkedPath(absolute);
    if (host.empty())
        return false;
    struct stat st;
    if (::mkdir(host.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int openForWriting(const std::string &absolute, int flags)
{
    const std::string host = checkedPath(absolute);
    if (host.empty())
        return -1;
    struct stat st;
    int fd = -1;
    // A missing file is made here (nothing that appears meanwhile is written
    // through); one that another writer made meanwhile is looked at again.
    for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
        const bool missing = ::stat(host.c_str(), &st) != 0;
        if (!missing && !isRegular(st))
            return -1;
        fd = ::open(host.c_str(), flags | O_CREAT | (missing ? O_EXCL : 0) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    0644);
        if (fd < 0 && !(missing && errno == EEXIST))
            return -1;
    }
    return regularOnly(fd, st);
}

bool makeFifo(const std::string &absolute)
{
    const std::string host = checkedPath(absolute);
    if (host.empty())
        return false;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 && ::mkfifo(host.c_str(), 0600) != 0)
        return false;
    return ::stat(host.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool setPermissionsBelow(const std::string &absoluteDir, unsigned mode)
{
    const std::string top = checkedPath(absoluteDir);
    if (top.empty() || ::chmod(top.c_str(), mode) != 0)
        return false;
    bool ok = true;
    QDirIterator it(QString::fromStdString(top), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const std::string entry = it.next().toStdString();
        struct stat st;
        if (::lstat(entry.c_str(), &st) != 0 || S_ISLNK(st.st_mode))
            continue;   // a link's own bits mean nothing; its target is not the folder's
        if (!mayChange(entry) || ::chmod(entry.c_str(), mode) != 0)
            ok = false;
    }
    return ok;
}

bool settingsWritable(const std::string &absolute)
{
    const std::string lock = absolute + ".lock";
    return !checkedPath(absolute).empty() && !checkedPath(lock).empty() && safeToOpen(absolute, Kind::Settings)
           && safeToOpen(lock, Kind::Settings);
}

std::FILE *openRegular(const std::string &absolute, uint64_t *size)
{
    struct stat st;
    const int fd = openRegularFd(path(absolute), st);
    if (fd < 0)
        return nullptr;
    std::FILE *f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    if (size)
        *size = static_cast<uint64_t>(st.st_size);
    return f;
}

bool readAll(const std::string &absolute, Kind kind, std::string &out, bool *longer)
{
    if (longer)
        *longer = false;
    struct stat st;
    const int fd = openRegularFd(path(absolute), st);
    if (fd < 0)
        return false;
    const bool ok = readUpTo(fd, maxSize(kind), out, longer);
    ::close(fd);
    return ok;
}

bool safeToOpen(const std::string &absolute, Kind kind)
{
    const std::string p = path(absolute);
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0)
        return errno == ENOENT && folderInsideRoot(p);
    return ::stat(p.c_str(), &st) == 0 && isRegular(st) && static_cast<uint64_t>(st.st_size) <= maxSize(kind)
           && insideRoot(p);
}

int removeStaleTemporaries(const std::string &absoluteDir)
{
    // Temporary names are "<target>.tmp<pid>.<count>" (see temporarySuffix).
    static const QRegularExpression temporary(QStringLiteral("\\.tmp\\d+\\.\\d+$"));
    int removed = 0;
    const std::string top = checkedPath(absoluteDir);
    if (top.empty())
        return 0;
    QDirIterator it(QString::fromStdString(top), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (temporary.match(it.fileName()).hasMatch() && mayChange(file.toStdString()) && QFile::remove(file))
            ++removed;
    }
    return removed;
}

void sync()
{
    // The simulation's writes are flushed one by one; a host-wide sync would
    // only slow the machine down.
    if (!isSim())
        ::sync();
}

bool fillHost(int hostFd, uint64_t from, uint64_t to, unsigned char value)
{
    std::vector<unsigned char> block(64 * 1024, value);
    while (from < to) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), to - from));
        ssize_t w = ::pwrite(hostFd, block.data(), n, static_cast<off_t>(from));
        if (w <= 0)
            return false;
        from += static_cast<uint64_t>(w);
    }
    return true;
}

namespace testing {
void failNextWriteAfter(size_t bytes) { g_failAfter = static_cast<long long>(bytes); }
void clearFailure() { g_failAfter = -1; }
SyncCounts takeSyncCounts() { return SyncCounts{g_fileSyncs.exchange(0), g_folderSyncs.exchange(0)}; }
} // namespace testing

} // namespace files
} // namespace platform
