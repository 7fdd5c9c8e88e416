#include "base/regular_file.h"

#include <sys/stat.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

std::FILE* openRegularFile(const char* path, bool* notRegular) {
    if (notRegular != nullptr) {
        *notRegular = false;
    }
    const auto refuse = [notRegular] {
        if (notRegular != nullptr) {
            *notRegular = true;
        }
        return nullptr;
    };
#ifdef _WIN32
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(file);
        return refuse();
    }
    return file;
#else
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
#endif
}
