#ifndef APP_LOGMSG_H
#define APP_LOGMSG_H

// Logging entry point of the whole program. Levels: 1 errors (one line on
// standard error each), 2 "is null" notes and 3 constructor banners (both
// silent). It accepts anything and never fails.

enum _LogType { LOG_ERROR = 1, LOG_NULL = 2, LOG_INFO = 3 };

void writeLogMsg(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Debug print, shown only while g_debugSwitch is 254.
void debugPrint(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
