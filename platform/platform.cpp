#include "platform/platform.h"
#include "platform/files.h"

#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

struct State {
    bool ready = false;
    Mode mode = Mode::Sim;
    std::string root = "/";
};

State &state()
{
    static State s;
    return s;
}

std::mutex &stateMutex()
{
    static std::mutex m;
    return m;
}

Mode defaultMode()
{
#ifdef ZEM_DEFAULT_DEVICE
    return Mode::Device;
#else
    return Mode::Sim;
#endif
}

std::string absoluteRoot(const std::string &dir)
{
    QString abs = QDir(QString::fromStdString(dir)).absolutePath();
    std::string r = abs.toStdString();
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    return r;
}

void initLocked()
{
    State &s = state();
    if (s.ready)
        return;
    const char *m = std::getenv("ZEM_MODE");
    if (m && std::string(m) == "device")
        s.mode = Mode::Device;
    else if (m && std::string(m) == "sim")
        s.mode = Mode::Sim;
    else
        s.mode = defaultMode();

    const char *r = std::getenv("ZEM_ROOT");
    if (s.mode == Mode::Sim) {
        s.root = absoluteRoot((r && *r) ? r : "./var");
        if (s.root == "/") {
            // The simulation never works on the host's own /data, /dev or /etc.
            std::fprintf(stderr, "ZEM_ROOT=/ is refused in simulation; using ./var\n");
            s.root = absoluteRoot("./var");
        }
    } else {
        s.root = (r && *r) ? absoluteRoot(r) : "/";
    }
    s.ready = true;
}

} // namespace

void init()
{
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        initLocked();
    }
    ensureDataDirs();
    // Nothing else runs yet, so every temporary file under /data is a
    // leftover of a write that a power loss cut short.
    files::removeStaleTemporaries("/data");
}

Mode mode()
{
    std::lock_guard<std::mutex> lock(stateMutex());
    initLocked();
    return state().mode;
}

const std::string &root()
{
    std::lock_guard<std::mutex> lock(stateMutex());
    initLocked();
    return state().root;
}

void configure(Mode m, const std::string &rootDir)
{
    std::lock_guard<std::mutex> lock(stateMutex());
    State &s = state();
    s.mode = m;
    s.root = absoluteRoot(rootDir);
    s.ready = true;
}

namespace testing {
void resetSelection()
{
    std::lock_guard<std::mutex> lock(stateMutex());
    state() = State();
}
} // namespace testing

namespace {

// What a refused path maps to: a name below a device file, so that every
// open, create, list, rename or removal of it (or of anything below it) fails.
const char *const REFUSED_PATH = "/dev/null/refused";

bool climbsOut(const std::string &absolute)
{
    size_t start = 0;
    while (start <= absolute.size()) {
        size_t end = absolute.find('/', start);
        if (end == std::string::npos)
            end = absolute.size();
        if (absolute.compare(start, end - start, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

std::string path(const std::string &absolute)
{
    const std::string &r = root();
    if (r == "/")
        return absolute;
    // Under a root, a relative path or a ".." step would lead out of it.
    if (absolute.empty() || absolute[0] != '/' || climbsOut(absolute)) {
        std::fprintf(stderr, "path refused outside the root: %s\n", absolute.c_str());
        return REFUSED_PATH;
    }
    return r + absolute;
}

QString qpath(const QString &absolute)
{
    return QString::fromStdString(path(absolute.toStdString()));
}

bool ensureDir(const std::string &absolute)
{
    if (absolute.empty() || absolute[0] != '/')
        return false;
    // One folder at a time, each through the check: no folder is made where
    // a link leads out of the root.
    size_t end = 0;
    while (end != std::string::npos) {
        end = absolute.find('/', end + 1);
        const std::string folder = absolute.substr(0, end);
        if (folder.back() != '/' && !files::makeDir(folder))
            return false;
    }
    return true;
}

void ensureDataDirs()
{
    // The root itself is the user's choice (ZEM_ROOT): made when missing.
    if (root() != "/")
        QDir().mkpath(QString::fromStdString(root()));
    static const char *const dirs[] = {"/data", "/data/configs", "/data/modes",
                                       "/data/edidramtable", "/data/smartmapping",
                                       "/data/rcvrecovery"};
    for (const char *d : dirs)
        ensureDir(d);
    if (isSim()) {
        ensureDir("/sim");
        ensureDir("/dev");
        ensureDir("/proc/scsi");
        ensureDir("/etc/network");
        ensureDir("/mnt");
    }
}

} // namespace platform
