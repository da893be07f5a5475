#include "app/logMsg.h"
#include "app/global.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

std::string format(const char *fmt, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0)
        return std::string();
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), fmt, args);
    text.resize(static_cast<size_t>(n));
    return text;
}

} // namespace

void writeLogMsg(int level, const char *fmt, ...)
{
    // Errors leave a trace on standard error, so that a failure on the board
    // can be found afterwards; notes and banners stay silent.
    if (level != LOG_ERROR || !fmt)
        return;
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    if (text.empty() || text.back() != '\n')
        text += '\n';
    std::fputs(text.c_str(), stderr);
}

void debugPrint(const char *fmt, ...)
{
    if (g_debugSwitch != 254)
        return;
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    // Each diagnostic is a line of its own, whatever line ends its text
    // starts or ends with; spaces and tabs stay as written (a glyph drawn in
    // characters needs them). A diagnostic of line ends only prints nothing.
    const char *lineEnds = "\r\n";
    const size_t first = text.find_first_not_of(lineEnds);
    if (first == std::string::npos)
        return;
    text = text.substr(first, text.find_last_not_of(lineEnds) - first + 1) + "\n";
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}
