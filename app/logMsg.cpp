#include "app/logMsg.h"
#include "app/global.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void writeLogMsg(int level, const char *format, ...)
{
    // Errors leave a trace on standard error, so that a failure on the board
    // can be found afterwards; notes and banners stay silent.
    if (level != LOG_ERROR || !format)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    const size_t n = std::strlen(line);
    std::fprintf(stderr, "%s%s", line, n && line[n - 1] == '\n' ? "" : "\n");
}

void debugPrint(const char *format, ...)
{
    if (g_debugSwitch != 254)
        return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
