#include "support/temp_root.h"

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/timing.h"

#include <QDir>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
