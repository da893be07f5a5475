#ifndef TESTS_SUPPORT_DEVICE_PROCESS_H
#define TESTS_SUPPORT_DEVICE_PROCESS_H

#include "support/patience.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zemtest {

// Runs the real zemR47N in simulation with its own root, as a child of the
// test. The child inherits the test's network namespace. Its standard output
// and error go to <root>/zem.out. The destructor ends it.
class DeviceProcess
{
public:
    explicit DeviceProcess(const std::string &root, std::vector<std::string> args = {"-platform", "offscreen"},
                           std::map<std::string, std::string> extraEnv = {});
    ~DeviceProcess();

    bool running();
    // Ends the process (SIGTERM, then SIGKILL after a grace period).
    void stop();
    pid_t pid() const { return m_pid; }
    std::string output() const;
    const std::string &root() const { return m_root; }

private:
    std::string m_root;
    pid_t m_pid = -1;
};

// A KiB figure of a process's status ("VmRSS:", "VmHWM:" ...; -1 when
// unknown), and its resident memory.
long statusKiB(pid_t pid, const char *field);
long residentKiB(pid_t pid);

// Polls `condition` until it holds or `timeout` passes (a deadline for a
// plain build: scaled by this build's slowdown).
bool waitFor(const std::function<bool()> &condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20),
             std::chrono::milliseconds step = std::chrono::milliseconds(20));

// True when something accepts TCP connections on 127.0.0.1:port.
bool tcpPortOpen(int port);

// A pseudo-terminal pair whose slave side is linked at `linkPath` (for
// example <root>/dev/ttyS2), as a serial port of the device. The test talks
// on the master side.
class PtyLink
{
public:
    explicit PtyLink(const std::string &linkPath);
    ~PtyLink();
    bool ok() const { return m_master >= 0; }
    int master() const { return m_master; }
    // Writes all bytes to the device side.
    bool send(const std::vector<unsigned char> &bytes);
    // Reads what arrives within `timeout`, stopping early once `expect` bytes came.
    std::vector<unsigned char> receive(size_t expect, std::chrono::milliseconds timeout);
    // The PC side goes away: the link path is removed, then the line drops
    // (the device side sees a hang-up).
    void hangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_link;
};

} // namespace zemtest

#endif
