#ifndef PLATFORM_SHELL_H
#define PLATFORM_SHELL_H

// The shell runner. On the device a command runs through /bin/sh; in simulation
// its exact text is appended to $ZEM_ROOT/sim/shell.log, nothing is executed,
// and the status and output come from a script that tests can set.

#include <cstddef>
#include <string>
#include <vector>

namespace platform {
namespace shell {

// Runs a command; returns the raw wait status as system() reports it
// (exit code 1 gives 256), or -1 when it cannot be started.
int run(const std::string &command);

// Runs a command and returns its standard output, read line by line through a
// buffer of lineBuffer bytes; empty when it cannot be started.
std::string capture(const std::string &command, int lineBuffer = 256);

namespace sim {

// A scripted answer: commands starting with `prefix` exit with `exitCode`
// and print `output`. The longest matching prefix wins; unscripted commands
// exit with 0 and print nothing.
void script(const std::string &prefix, int exitCode, const std::string &output = std::string());
void clearScript();

// The commands recorded so far, oldest first. The log file keeps the newest:
// past LOG_FILE_LIMIT bytes its older half is dropped.
constexpr size_t LOG_FILE_LIMIT = 1u << 20;
std::vector<std::string> log();
void clearLog();

// Besides the in-process script, rules are read from $ZEM_ROOT/sim/shell.script:
// one rule per line, "prefix<TAB>exit code<TAB>output", with "\n" and "\t"
// written as escapes in the output.
std::string scriptFile();
std::string logFile();

} // namespace sim
} // namespace shell
} // namespace platform

#endif
