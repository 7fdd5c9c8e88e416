#pragma once

#include <cstdio>

// Every log line of the program goes through here: a printf-style format that
// starts with the component's tag in brackets and ends with a line feed.
void log(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
