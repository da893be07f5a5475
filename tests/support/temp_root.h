#ifndef TESTS_SUPPORT_TEMP_ROOT_H
#define TESTS_SUPPORT_TEMP_ROOT_H

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace zemtest {

// A private simulation root for one test: created empty, selected as the
// platform root with the simulation backend, removed afterwards. Settling
// pauses are switched off so unit tests run fast.
class TempRoot
{
public:
    TempRoot();
    ~TempRoot();
    const std::string &dir() const { return m_dir; }
    // Absolute host path of a program path under this root.
    std::string host(const std::string &absolute) const { return m_dir + absolute; }

private:
    std::string m_dir;
};

// Base fixture for tests that need a root.
class RootTest : public ::testing::Test
{
protected:
    TempRoot root;
};

// A folder beside a test's root, outside it, removed with what it holds at
// the end: where the links lead when a test checks that nothing outside the
// root is written, replaced or deleted.
class OutsideDir
{
public:
    explicit OutsideDir(const TempRoot &root);
    ~OutsideDir();
    const std::string &dir() const { return m_dir; }
    std::string host(const std::string &name) const { return m_dir + "/" + name; }
    // Every entry below it (links not followed) with its type, permission
    // bits and, for a regular file, its content.
    std::map<std::string, std::string> snapshot() const;

private:
    std::string m_dir;
};

std::string readFile(const std::string &hostPath);
void writeFile(const std::string &hostPath, const std::string &data);

} // namespace zemtest

#endif
