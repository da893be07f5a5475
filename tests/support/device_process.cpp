#include "support/device_process.h"
#include "support/temp_root.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace zemtest {

DeviceProcess::DeviceProcess(const std::string &root, std::vector<std::string> args,
                             std::map<std::string, std::string> extraEnv)
    : m_root(root)
{
#ifdef ZEM_BINARY
    const std::string binary = ZEM_BINARY;
#else
    const std::string binary = "zemR47N";
#endif
    // The output file is emptied before the fork: a restart in the same root
    // must not let the caller read the previous run's output meanwhile.
    std::string out = root + "/zem.out";
    int empty = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (empty >= 0)
        ::close(empty);
    m_pid = fork();
    if (m_pid != 0)
        return;
    int fd = ::open(out.c_str(), O_WRONLY | O_APPEND, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        ::close(fd);
    }
    setenv("ZEM_MODE", "sim", 1);
    setenv("ZEM_ROOT", root.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const auto &kv : extraEnv)
        setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<char *> argv;
#ifdef ZEM_BINARY_EMULATOR
    // A program built for the board runs under the user-mode emulator the
    // tests run under.
    static char emulator[] = ZEM_BINARY_EMULATOR;
    argv.push_back(emulator);
#endif
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

DeviceProcess::~DeviceProcess()
{
    stop();
}

bool DeviceProcess::running()
{
    if (m_pid <= 0)
        return false;
    int status;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void DeviceProcess::stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    bool ended = waitFor([this] { return !running(); }, std::chrono::seconds(3));
    if (!ended && m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

std::string DeviceProcess::output() const
{
    return readFile(m_root + "/zem.out");
}

long statusKiB(pid_t pid, const char *field)
{
    std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
    const size_t len = std::strlen(field);
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, len, field) == 0)
            return std::stol(line.substr(len));
    return -1;
}

long residentKiB(pid_t pid) { return statusKiB(pid, "VmRSS:"); }

bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout,
             std::chrono::milliseconds step)
{
    auto deadline = std::chrono::steady_clock::now() + patience(timeout);
    while (true) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
}

bool tcpPortOpen(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

PtyLink::PtyLink(const std::string &linkPath) : m_link(linkPath)
{
    if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    termios t;
    if (tcgetattr(m_master, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(m_master, TCSANOW, &t);
    }
    char name[128];
    if (ttyname_r(m_slave, name, sizeof name) != 0) {
        ::close(m_master);
        ::close(m_slave);
        m_master = m_slave = -1;
        return;
    }
    ::unlink(linkPath.c_str());
    if (symlink(name, linkPath.c_str()) != 0) {
        ::close(m_master);
        ::close(m_slave);
        m_master = m_slave = -1;
    }
}

PtyLink::~PtyLink()
{
    hangUp();
}

void PtyLink::hangUp()
{
    if (m_master < 0)
        return;
    ::unlink(m_link.c_str());
    ::close(m_master);
    ::close(m_slave);
    m_master = m_slave = -1;
}

bool PtyLink::send(const std::vector<unsigned char> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::vector<unsigned char> PtyLink::receive(size_t expect, std::chrono::milliseconds timeout)
{
    std::vector<unsigned char> out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < expect) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p = {m_master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        unsigned char buf[4096];
        ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

} // namespace zemtest
