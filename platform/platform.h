#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

// The hardware stand-in layer: the only place that reaches devices, the shell
// and absolute paths. Every backend (device or simulation) is chosen once, at
// start-up, from ZEM_MODE; all absolute paths are placed under the root.

#include <QString>
#include <string>

namespace platform {

enum class Mode { Device, Sim };

// Reads ZEM_MODE ("device" or "sim") and ZEM_ROOT once. Without ZEM_MODE a
// board build runs the device backend and a host build the simulation.
// In simulation the root defaults to ./var, on the device it is "/".
// Creates the root's /data folders. Safe to call more than once.
void init();

Mode mode();
inline bool isSim() { return mode() == Mode::Sim; }

// Root under which every absolute path of the program lives ("/" on the device).
const std::string &root();

// Selects a backend and root explicitly (tests use a temporary root).
void configure(Mode m, const std::string &rootDir);

// Maps an absolute program path ("/data/app", "/dev/ttyS2") under the root.
// Under a root other than "/", a relative path or one with a ".." step is
// refused: it maps to a path that cannot be opened, created or listed.
std::string path(const std::string &absolute);
QString qpath(const QString &absolute);

// Creates a folder (and its parents) under the root, each through the check of
// files::checkedPath; true when it exists afterwards.
bool ensureDir(const std::string &absolute);

// The /data folders the program expects.
void ensureDataDirs();

namespace testing {
// Forgets the backend and root chosen so far; the next call reads the
// environment again.
void resetSelection();
} // namespace testing

} // namespace platform

#endif
