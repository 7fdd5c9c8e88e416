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

struct SplitPath {
    std::string folder;
    std::string name;
};

// The folder part of a path ("." when there is none) and the name after it.
SplitPath splitPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// The file a path names once its symbolic links are followed (as far as they
// lead: a link to a file not there yet still names its folder and name).
std::string resolve(const std::string& path) {
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) {
        char target[4096];
        const ssize_t n = ::readlink(at.c_str(), target, sizeof target - 1);
        if (n <= 0) {
            break;
        }
        target[n] = '\0';
        if (target[0] == '/') {
            at = target;
        } else {
            at = splitPath(at).folder + "/" + target;
        }
    }
    return at;
}

// Not IN_MODIFY: a file written in place is read once, when it is closed.
constexpr std::uint32_t kFileEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB;
// The folder itself going away ends its watch (IN_IGNORED follows).
constexpr std::uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

} // namespace

bool FileWatch::arm() {
    SplitPath file = splitPath(resolve(path));
    folder = std::move(file.folder);
    name = std::move(file.name);
    watch = inotify_add_watch(fd, folder.c_str(), kFileEvents | IN_DELETE_SELF | IN_MOVE_SELF);
    if (watch < 0) {
        return false;
    }
    const SplitPath own = splitPath(path);
    linkFolder.clear();
    linkName.clear();
    if (own.folder != folder || own.name != name) {
        // The link may be pointed elsewhere: its own folder is watched too.
        linkFolder = own.folder;
        linkName = own.name;
        // The same mask: were both folders one, a narrower one would replace it.
        linkWatch =
            inotify_add_watch(fd, own.folder.c_str(), kFileEvents | IN_DELETE_SELF | IN_MOVE_SELF);
        if (linkWatch == watch) {
            linkWatch = -1; // the same folder: one watch sees both names
        }
    }
    return true;
}

void FileWatch::disarm() {
    if (watch >= 0) {
        inotify_rm_watch(fd, watch);
    }
    if (linkWatch >= 0) {
        inotify_rm_watch(fd, linkWatch);
    }
    watch = -1;
    linkWatch = -1;
}

bool FileWatch::start(const std::string& file) {
    stop();
    path = file;
    look();
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        logLine(stderr, "[FileWatch] inotify unavailable (%s); polling %s\n", std::strerror(errno),
                file.c_str());
        return true;
    }
    if (!arm()) {
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
    bool rearm = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (watch < 0 || (event->wd != watch && event->wd != linkWatch)) {
                continue; // an old watch's last words
            }
            const bool named = event->len > 0;
            if (event->wd == watch && (event->mask & kFolderGone) != 0) {
                // Moved away or removed: whatever comes in its place is watched.
                changed = rearm = true;
            } else if (named && !linkName.empty() && linkName == event->name &&
                       (event->wd == linkWatch || folder == linkFolder)) {
                // The link itself changed: it may name another file now.
                changed = rearm = true;
            } else if (event->wd == watch && (!named || name == event->name)) {
                changed = true;
            }
        }
    }
    if (rearm) {
        disarm();
    }
    if (watch < 0 && arm()) {
        // Back, and perhaps with the file already in it.
        changed = true;
    }
    return changed;
}

void FileWatch::stop() {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
    watch = -1;
    linkWatch = -1;
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
