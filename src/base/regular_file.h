#pragma once

#include <cstdio>

// Opens a path for reading when it names a regular file (through any links).
// Anything else, a folder, a FIFO or a device, is refused without blocking
// and without reading from it: nullptr, with *notRegular set. nullptr with
// it clear: the path cannot be opened (errno says why).
std::FILE* openRegularFile(const char* path, bool* notRegular = nullptr);
