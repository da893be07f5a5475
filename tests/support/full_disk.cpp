#include "support/full_disk.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace zemtest {
namespace {

const char *const FILLER = ".full_disk_filler";

// A mount namespace of this process's own, whose mounts never reach the
// host's (whatever propagation the host's root has).
bool privateMounts()
{
    static const bool ok = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ok;
}

} // namespace

FullDisk::FullDisk(const std::string &hostDir) : m_dir(hostDir)
{
    const QDir dir(QString::fromStdString(hostDir));
    if (!dir.mkpath(QStringLiteral(".")) || !privateMounts())
        return;
    QMap<QString, QByteArray> files;
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            files.insert(name, f.readAll());
    }
    m_mounted = mount("zemtest", hostDir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k,mode=0755") == 0;
    for (auto it = files.cbegin(); m_mounted && it != files.cend(); ++it) {
        QFile f(dir.filePath(it.key()));
        m_mounted = f.open(QIODevice::WriteOnly) && f.write(it.value()) == it.value().size();
    }
}

FullDisk::~FullDisk()
{
    if (m_mounted)
        umount2(m_dir.c_str(), MNT_DETACH);
}

bool FullDisk::fill()
{
    const std::string path = m_dir + "/" + FILLER;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::vector<char> block(4096, 'x');
    ssize_t n;
    while ((n = ::write(fd, block.data(), block.size())) > 0) {
    }
    const bool full = n < 0 && errno == ENOSPC;
    ::close(fd);
    return full;
}

void FullDisk::drain()
{
    ::unlink((m_dir + "/" + FILLER).c_str());
}

} // namespace zemtest
