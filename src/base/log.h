#pragma once

#include <cstdio>
#include <string>

// Lets the compiler check the arguments of printf-style functions. mingw's
// libstdc++ selects its own C99 printf, which has a format family of its own.
#if defined(__MINGW32__)
#define QUEX_PRINTF_LIKE(formatIndex, firstArg)                                                    \
    __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArg)))
#elif defined(__GNUC__)
#define QUEX_PRINTF_LIKE(formatIndex, firstArg)                                                    \
    __attribute__((format(printf, formatIndex, firstArg)))
#else
#define QUEX_PRINTF_LIKE(formatIndex, firstArg)
#endif

// Every log line of the program goes through here: a printf-style format that
// starts with the component's tag in brackets and ends with a line feed.
void logLine(std::FILE* stream, const char* format, ...) QUEX_PRINTF_LIKE(2, 3);

// While copying is on, the lines logged to stderr are also kept (the first
// 16 KiB of them), so that start-up can show them where stderr goes unseen.
// Turning it on starts an empty copy; turning it off drops it.
void copyStderrLines(bool on);
std::string copiedStderrLines();
