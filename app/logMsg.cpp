#include "app/logMsg.h"
#include "app/global.h"

#include <cstdarg>
#include <cstdio>

void writeLogMsg(int, const char *, ...)
{
    // Messages are not kept on the device; diagnostics go through debugPrint.
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
