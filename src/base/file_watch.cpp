#include "base/file_watch.h"

#include "base/log.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#ifdef __linux__
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

FileWatch::~FileWatch() {
    stop();
}

bool FileWatch::statChanged() {
    const bool before = existed;
    const std::int64_t m = mtime;
    const std::int64_t s = size;
    const std::uint64_t i = inode;
    look();
    return existed != before || mtime != m || size != s || inode != i;
}

void FileWatch::look() {
    struct stat st {};
    existed = ::stat(path.c_str(), &st) == 0;
    if (!existed) {
        mtime = size = 0;
        inode = 0;
        return;
    }
#if defined(__linux__) || defined(__APPLE__)
    // Sub-second times, or two saves within a second would look alike.
#ifdef __APPLE__
    mtime =
        static_cast<std::int64_t>(st.st_mtimespec.tv_sec) * 1000000000 + st.st_mtimespec.tv_nsec;
#else
    mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
#else
    mtime = static_cast<std::int64_t>(st.st_mtime);
#endif
    size = static_cast<std::int64_t>(st.st_size);
    inode = static_cast<std::uint64_t>(st.st_ino);
}

#ifdef __linux__

namespace {

// The folder part of a path ("." when there is none) and the name after it.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

} // namespace

bool FileWatch::start(const std::string& file) {
    stop();
    path = file;
    look();
    std::string folder;
    splitPath(file, folder, name);
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        logLine(stderr, "[FileWatch] inotify unavailable (%s); polling %s\n", std::strerror(errno),
                file.c_str());
        return true;
    }
    // Not IN_MODIFY: a file written in place is read once, when it is closed.
    const std::uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                               IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
    watch = inotify_add_watch(fd, folder.c_str(), mask);
    if (watch < 0) {
        logLine(stderr, "[FileWatch] cannot watch %s: %s\n", folder.c_str(), std::strerror(errno));
        ::close(fd);
        fd = -1;
        path.clear();
        return false;
    }
    return true;
}

bool FileWatch::poll() {
    if (fd < 0) {
        // Without inotify, look at the file instead.
        return !path.empty() && statChanged();
    }
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // Events on the folder itself carry no name and concern every file in it.
            if (event->len == 0 || name == event->name) {
                changed = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return changed;
}

void FileWatch::stop() {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
    watch = -1;
    path.clear();
}

#else

bool FileWatch::start(const std::string& file) {
    path = file;
    look();
    return true;
}

bool FileWatch::poll() {
    return !path.empty() && statChanged();
}

void FileWatch::stop() {
    path.clear();
}

#endif
