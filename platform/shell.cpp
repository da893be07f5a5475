#include "platform/shell.h"
#include "platform/files.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace shell {
namespace {

const char *const LOG_FILE = "/sim/shell.log";

struct Rule {
    std::string prefix;
    int exitCode = 0;
    std::string output;
};

std::mutex &simMutex()
{
    static std::mutex m;
    return m;
}

std::vector<Rule> &rules()
{
    static std::vector<Rule> r;
    return r;
}

std::string unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<Rule> fileRules()
{
    std::vector<Rule> out;
    std::ifstream in(sim::scriptFile());
    std::string line;
    while (std::getline(in, line)) {
        size_t t1 = line.find('\t');
        if (line.empty() || t1 == std::string::npos)
            continue;
        size_t t2 = line.find('\t', t1 + 1);
        Rule r;
        r.prefix = line.substr(0, t1);
        r.exitCode = std::atoi(line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos
                                                                            : t2 - t1 - 1).c_str());
        if (t2 != std::string::npos)
            r.output = unescape(line.substr(t2 + 1));
        out.push_back(r);
    }
    return out;
}

Rule simAnswer(const std::string &command)
{
    Rule best;
    size_t bestLen = 0;
    bool found = false;
    std::vector<Rule> all = fileRules();
    all.insert(all.end(), rules().begin(), rules().end());
    for (const Rule &r : all) {
        if (command.compare(0, r.prefix.size(), r.prefix) == 0 && (!found || r.prefix.size() >= bestLen)) {
            best = r;
            bestLen = r.prefix.size();
            found = true;
        }
    }
    return best;
}

// Past LOG_FILE_LIMIT bytes the log (`size` bytes now) keeps its newer
// half, from a line's start.
void trimLog(size_t size)
{
    std::ifstream in(sim::logFile(), std::ios::binary);
    in.seekg(static_cast<off_t>(size - sim::LOG_FILE_LIMIT / 2));
    std::string skipped;
    std::getline(in, skipped);   // the rest of a line cut in two
    const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    files::writeAtomic(LOG_FILE, kept.data(), kept.size());
}

// The log is an aid: a command whose line cannot be written still runs.
void appendToLog(const std::string &line)
{
    const int fd = files::openForWriting(LOG_FILE, O_WRONLY | O_APPEND);
    if (fd < 0)
        return;
    const ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    struct stat st;
    const bool over = ::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) > sim::LOG_FILE_LIMIT;
    ::close(fd);
    if (over)
        trimLog(static_cast<size_t>(st.st_size));
}

Rule simRun(const std::string &command)
{
    std::lock_guard<std::mutex> lock(simMutex());
    ensureDir("/sim");
    appendToLog(command + '\n');
    return simAnswer(command);
}

} // namespace

int run(const std::string &command)
{
    if (isSim())
        return (simRun(command).exitCode & 0xFF) << 8;
    return std::system(command.c_str());
}

std::string capture(const std::string &command, int lineBuffer)
{
    if (isSim())
        return simRun(command).output;
    if (lineBuffer < 2)
        lineBuffer = 2;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::string();
    std::string out;
    std::vector<char> buf(static_cast<size_t>(lineBuffer));
    while (fgets(buf.data(), lineBuffer, pipe))
        out += buf.data();
    pclose(pipe);
    return out;
}

namespace sim {

void script(const std::string &prefix, int exitCode, const std::string &output)
{
    std::lock_guard<std::mutex> lock(simMutex());
    rules().push_back(Rule{prefix, exitCode, output});
}

void clearScript()
{
    std::lock_guard<std::mutex> lock(simMutex());
    rules().clear();
}

std::vector<std::string> log()
{
    std::lock_guard<std::mutex> lock(simMutex());
    std::vector<std::string> out;
    std::ifstream in(logFile());
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

void clearLog()
{
    std::lock_guard<std::mutex> lock(simMutex());
    const int fd = files::openForWriting(LOG_FILE, O_WRONLY | O_TRUNC);
    if (fd >= 0)
        ::close(fd);
}

std::string scriptFile() { return path("/sim/shell.script"); }
std::string logFile() { return path(LOG_FILE); }

} // namespace sim
} // namespace shell
} // namespace platform
