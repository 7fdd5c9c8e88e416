#include "base/file_watch.h"

#include "base/log.h"
#include "base/regular_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#ifdef __linux__
#include <algorithm>
#include <deque>
#include <filesystem>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace {

constexpr std::chrono::milliseconds kLookInterval{500};
// Scripts are far smaller; past this, the size and time tell a change.
constexpr std::size_t kHashedBytes = 4u << 20;

} // namespace

FileWatch::~FileWatch() {
    stop();
}

FileWatch::Look FileWatch::look() const {
    Look l;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return l;
    }
    l.exists = true;
    l.device = static_cast<std::uint64_t>(st.st_dev);
    l.inode = static_cast<std::uint64_t>(st.st_ino);
    l.size = static_cast<std::int64_t>(st.st_size);
#if defined(__linux__)
    // Sub-second times, or two saves within a second would look alike.
    l.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#elif defined(__APPLE__)
    l.mtime =
        static_cast<std::int64_t>(st.st_mtimespec.tv_sec) * 1000000000 + st.st_mtimespec.tv_nsec;
#else
    l.mtime = static_cast<std::int64_t>(st.st_mtime);
#endif
    // The bytes too: a file system with coarse times, or a save of the same
    // size within one tick, would otherwise look unchanged. A FIFO is not read.
    if (std::FILE* file = openRegularFile(path.c_str())) {
        std::uint64_t hash = 14695981039346656037ull;
        unsigned char buffer[65536];
        std::size_t total = 0;
        std::size_t n = 0;
        while (total < kHashedBytes && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            for (std::size_t i = 0; i < n; ++i) {
                hash = (hash ^ buffer[i]) * 1099511628211ull;
            }
            total += n;
        }
        std::fclose(file);
        l.contents = hash;
    }
    return l;
}

bool FileWatch::lookIfDue() {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextLook) {
        return false;
    }
    nextLook = now + kLookInterval;
    // A file still being written looks different every time: it is taken
    // once two looks in a row agree.
    const Look seen = look();
    const bool settled = seen == lastSeen;
    lastSeen = seen;
    if (!settled || seen == last) {
        return false;
    }
    last = seen;
    return true;
}

bool FileWatch::beingWritten() const {
    return writing && std::chrono::steady_clock::now() - lastWrite < kWriterQuiet;
}

#ifdef __linux__

namespace {

namespace fs = std::filesystem;

struct Step {
    fs::path folder;
    std::string name;
    bool file = false;
    bool link = false;
};

// The (folder, name) pairs the system reads to resolve the path, from the
// root, each link followed where it stands: replacing any of them changes
// what the path names. The file in its folder comes last.
std::vector<Step> stepsTo(const std::string& path) {
    std::vector<Step> steps;
    std::error_code error;
    const fs::path whole =
        fs::path(path).is_absolute() ? fs::path(path) : fs::current_path(error) / path;
    std::deque<std::string> names;
    for (const fs::path& part : whole.relative_path()) {
        names.push_back(part.string());
    }
    fs::path at = "/";
    for (int links = 0; !names.empty();) {
        const std::string name = names.front();
        names.pop_front();
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            at = at.parent_path(); // the folder reached, not the name spelled
            continue;
        }
        steps.push_back({at, name});
        const fs::path next = at / name;
        char target[4096];
        const ssize_t n = links < 40 ? ::readlink(next.c_str(), target, sizeof target - 1) : -1;
        if (n <= 0) {
            at = next; // a folder, the file, or a name not there yet
            continue;
        }
        ++links;
        steps.back().link = true;
        const fs::path to(std::string(target, static_cast<std::size_t>(n)));
        if (to.is_absolute()) {
            at = "/";
        }
        std::vector<std::string> parts;
        for (const fs::path& part : to.relative_path()) {
            parts.push_back(part.string());
        }
        names.insert(names.begin(), parts.begin(), parts.end());
    }
    if (!steps.empty()) {
        steps.back().file = true;
    }
    return steps;
}

// Network and FUSE file systems take a watch but do not report writes made
// elsewhere (another machine, the host of a virtual machine).
const char* remoteFileSystem(const fs::path& folder) {
    struct statfs st {};
    if (::statfs(folder.c_str(), &st) != 0) {
        return nullptr;
    }
    switch (static_cast<unsigned long>(st.f_type)) {
    case 0x6969ul:
        return "NFS";
    case 0x517bul:
    case 0xff534d42ul:
    case 0xfe534d42ul:
        return "SMB";
    case 0x65735546ul:
        return "FUSE";
    case 0x01021997ul:
        return "9P";
    case 0x00c36400ul:
        return "Ceph";
    case 0x786f4256ul:
        return "VirtualBox shared folder";
    default:
        return nullptr;
    }
}

// What changes the way to the file, in every folder on it.
constexpr std::uint32_t kWayEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;
// And in the file's folder, what is done to the file: written (IN_MODIFY, so
// that a writer still at it is waited for), closed after writing, touched.
constexpr std::uint32_t kFileEvents = kWayEvents | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
// The folder itself going away ends its watch (IN_IGNORED follows).
constexpr std::uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

bool isRegularFile(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

bool FileWatch::arm(std::string& why) {
    std::vector<Watched> now;
    complete = true;
    for (const Step& step : stepsTo(path)) {
        // One folder reached twice gives the same descriptor; the masks add up.
        const int wd = injectedError != 0 ? -1
                                          : inotify_add_watch(fd, step.folder.c_str(),
                                                              step.file ? kFileEvents : kWayEvents);
        const int error = injectedError != 0 ? injectedError : errno;
        if (wd < 0 && (error == ENOENT || error == ENOTDIR)) {
            complete = false; // watched again once its parent shows it back
            continue;
        }
        if (wd < 0 && (error == EACCES || error == EPERM) && !step.file && !step.link) {
            continue; // a folder high above that may not be read: the rest is still followed
        }
        if (wd < 0) {
            why = "cannot watch " + step.folder.string() + ": " + std::strerror(error);
            watched.insert(watched.end(), now.begin(), now.end());
            return false;
        }
        // The folders that hold the file or a link: there the writes must be seen.
        if (const char* kind = step.file || step.link ? remoteFileSystem(step.folder) : nullptr) {
            why = step.folder.string() + " is on a " + kind + " file system";
            watched.insert(watched.end(), now.begin(), now.end());
            return false;
        }
        now.push_back({wd, step.folder.string(), step.name, step.file});
    }
    // Watches the new way does not share go (one folder may hold two steps).
    for (const Watched& old : watched) {
        const auto used = [&old](const Watched& w) { return w.wd == old.wd; };
        if (std::none_of(now.begin(), now.end(), used)) {
            inotify_rm_watch(fd, old.wd);
        }
    }
    watched = std::move(now);
    return true;
}

void FileWatch::disarm() {
    std::vector<int> removed;
    for (const Watched& w : watched) {
        if (std::find(removed.begin(), removed.end(), w.wd) == removed.end()) {
            inotify_rm_watch(fd, w.wd);
            removed.push_back(w.wd);
        }
    }
    watched.clear();
}

// An event on the file's own name in its folder.
void FileWatch::fileEvent(std::uint32_t mask, const Watched& step, bool& rearm) {
    if ((mask & IN_MODIFY) != 0) {
        writing = true;
        lastWrite = std::chrono::steady_clock::now();
    }
    if ((mask & IN_CLOSE_WRITE) != 0) {
        writing = false;
    }
    if ((mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0) {
        // Another file, or a link, under the name: the way is looked up again.
        // A regular file just created is its writer's until it is closed.
        rearm = true;
        writing = (mask & IN_CREATE) != 0 && isRegularFile(fs::path(step.folder) / step.name);
        lastWrite = std::chrono::steady_clock::now();
    }
}

void FileWatch::fallBack(const std::string& why) {
    logLine(stderr, "[FileWatch] %s; looking at %s twice a second instead\n", why.c_str(),
            path.c_str());
    disarm();
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
    polling = true;
    writing = false;
    last = lastSeen = look();
    nextLook = std::chrono::steady_clock::now() + kLookInterval;
}

void FileWatch::start(const std::string& file) {
    stop();
    path = file;
    polling = false;
    writing = false;
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        fallBack(std::string("inotify unavailable (") + std::strerror(errno) + ")");
        return;
    }
    std::string why;
    if (!arm(why)) {
        fallBack(why);
    }
}

bool FileWatch::poll() {
    if (path.empty()) {
        return false;
    }
    if (polling) {
        return lookIfDue();
    }
    bool changed = false;
    bool rearm = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                fallBack(std::string("cannot read inotify: ") + std::strerror(errno));
                return true;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                // Events were lost: whatever happened, look the way up again.
                changed = rearm = true;
                writing = false;
                continue;
            }
            for (const Watched& w : watched) {
                if (w.wd != event->wd) {
                    continue; // another folder, or an old watch's last words
                }
                if ((event->mask & kFolderGone) != 0) {
                    // Moved away or removed: whatever comes in its place is watched.
                    changed = rearm = true;
                } else if (event->len > 0 && w.name == event->name) {
                    changed = true;
                    if (w.file) {
                        fileEvent(event->mask, w, rearm);
                    } else {
                        rearm = true; // a link or folder on the way changed
                    }
                }
            }
        }
    }
    if (rearm || !complete) {
        const bool wasComplete = complete;
        std::string why;
        if (!arm(why)) {
            fallBack(why);
            return true;
        }
        // Back, and perhaps with the file already in it.
        changed = changed || (complete && !wasComplete);
    }
    return changed;
}

void FileWatch::stop() {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
    watched.clear();
    path.clear();
}

#else

// Elsewhere the file itself is looked at.
void FileWatch::start(const std::string& file) {
    path = file;
    polling = true;
    last = lastSeen = look();
    nextLook = std::chrono::steady_clock::now() + kLookInterval;
}

bool FileWatch::poll() {
    return !path.empty() && lookIfDue();
}

void FileWatch::stop() {
    path.clear();
}

#endif
