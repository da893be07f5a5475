#ifndef TESTS_SUPPORT_DUMP_CAPTURE_H
#define TESTS_SUPPORT_DUMP_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zemtest {

// An in-memory stream standing in for standard output, for code that prints
// to a FILE (the chip manager's dumps).
class DumpCapture
{
public:
    DumpCapture() : m_file(open_memstream(&m_buf, &m_size)) {}
    ~DumpCapture()
    {
        std::fclose(m_file);
        std::free(m_buf);
    }
    DumpCapture(const DumpCapture &) = delete;
    DumpCapture &operator=(const DumpCapture &) = delete;

    FILE *file() const { return m_file; }
    // Everything printed since the start or the last clear().
    std::string text()
    {
        std::fflush(m_file);
        return std::string(m_buf, m_size);
    }
    void clear()
    {
        std::fseek(m_file, 0, SEEK_SET);
        std::fflush(m_file);
    }

private:
    char *m_buf = nullptr;
    size_t m_size = 0;
    FILE *m_file;
};

} // namespace zemtest

#endif
