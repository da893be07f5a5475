#ifndef TESTS_SUPPORT_FULL_DISK_H
#define TESTS_SUPPORT_FULL_DISK_H

#include <string>

namespace zemtest {

// A folder of a test's root on a small file system of its own that the test
// fills up, as the device's flash fills: a tmpfs mounted in a mount
// namespace private to the test process (the program it starts shares it;
// nothing is seen outside). The files the folder held are carried over.
class FullDisk
{
public:
    explicit FullDisk(const std::string &hostDir);
    ~FullDisk();   // unmounts: the folder shows what it held before
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    // False when this process cannot have mounts of its own (not root, or
    // already running threads): the test is then skipped.
    bool ok() const { return m_mounted; }
    // Takes every free byte; frees them again.
    bool fill();
    void drain();

private:
    std::string m_dir;
    bool m_mounted = false;
};

} // namespace zemtest

#endif
