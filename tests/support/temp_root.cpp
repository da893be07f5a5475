#include "support/temp_root.h"

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/timing.h"

#include <QDir>
#include <QDirIterator>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace zemtest {

TempRoot::TempRoot()
{
    char tmpl[] = "/tmp/zemroot-XXXXXX";
    char *d = mkdtemp(tmpl);
    if (!d)
        std::abort();
    m_dir = d;
    platform::configure(platform::Mode::Sim, m_dir);
    platform::ensureDataDirs();
    platform::setPausesEnabled(false);
    platform::shell::sim::clearScript();
    platform::files::testing::clearFailure();
}

TempRoot::~TempRoot()
{
    platform::shell::sim::clearScript();
    QDir(QString::fromStdString(m_dir)).removeRecursively();
}

OutsideDir::OutsideDir(const TempRoot &root) : m_dir(root.dir() + "-outside")
{
    QDir().mkpath(QString::fromStdString(m_dir));
}

OutsideDir::~OutsideDir()
{
    QDir(QString::fromStdString(m_dir)).removeRecursively();
}

std::map<std::string, std::string> OutsideDir::snapshot() const
{
    std::map<std::string, std::string> out;
    QDirIterator it(QString::fromStdString(m_dir), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const std::string entry = it.next().toStdString();
        struct stat st;
        if (::lstat(entry.c_str(), &st) != 0)
            continue;
        std::string what = std::to_string(st.st_mode);
        if (S_ISREG(st.st_mode))
            what += " " + readFile(entry);
        out[entry.substr(m_dir.size())] = what;
    }
    return out;
}

std::string readFile(const std::string &hostPath)
{
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string &hostPath, const std::string &data)
{
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out << data;
}

} // namespace zemtest
