#include "base/file_watch.h"

#include "base/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#ifdef __linux__
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
    // size within one tick, would otherwise look unchanged.
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
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
    const Look seen = look();
    const bool changed = !(seen == last);
    last = seen;
    return changed;
}

#ifdef __linux__

namespace {

namespace fs = std::filesystem;

// Absolute and without "." or "..", so that two spellings of one folder
// ("./assets", "assets") compare equal.
fs::path normal(const fs::path& p) {
    std::error_code error;
    const fs::path absolute = fs::absolute(p, error);
    return (error ? p : absolute).lexically_normal();
}

struct Step {
    fs::path folder;
    std::string name;
    bool file = false;
};

// Every folder from where `a` and `b` part down to each of them, with the name
// that leads on: replacing one of them changes where the path leads.
void addBetween(std::vector<Step>& steps, const fs::path& a, const fs::path& b) {
    fs::path common;
    auto ia = a.begin();
    auto ib = b.begin();
    for (; ia != a.end() && ib != b.end() && *ia == *ib; ++ia, ++ib) {
        common /= *ia;
    }
    for (auto [from, end] : {std::pair{ia, a.end()}, std::pair{ib, b.end()}}) {
        fs::path at = common;
        for (auto it = from; it != end; ++it) {
            steps.push_back({at, it->string()});
            at /= *it;
        }
    }
}

// The (folder, name) pairs that decide what the path names: each link on the
// way in its folder, the folders between, and the file in its folder (last).
std::vector<Step> stepsTo(const std::string& path) {
    std::vector<Step> steps;
    fs::path at = normal(path);
    for (int hops = 0; hops < 40; ++hops) {
        steps.push_back({at.parent_path(), at.filename().string()});
        char target[4096];
        const ssize_t n = ::readlink(at.c_str(), target, sizeof target - 1);
        if (n <= 0) {
            break; // the file, or a link to one not there yet
        }
        target[n] = '\0';
        const fs::path next =
            normal(target[0] == '/' ? fs::path(target) : at.parent_path() / target);
        addBetween(steps, at.parent_path(), next.parent_path());
        at = next;
    }
    steps.back().file = true;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        if (steps[i].folder == steps.back().folder && steps[i].name == steps.back().name) {
            steps[i].file = true; // a link that loops back to the file's name
        }
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

// Not IN_MODIFY: a file written in place is read once, when it is closed.
constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                  IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// The folder itself going away ends its watch (IN_IGNORED follows).
constexpr std::uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

} // namespace

bool FileWatch::arm(std::string& why) {
    watched.clear();
    complete = true;
    for (const Step& step : stepsTo(path)) {
        // One folder reached twice gives the same descriptor; the mask is the same.
        const int wd =
            injectedError != 0 ? -1 : inotify_add_watch(fd, step.folder.c_str(), kEvents);
        const int error = injectedError != 0 ? injectedError : errno;
        if (wd < 0 && (error == ENOENT || error == ENOTDIR)) {
            complete = false; // watched again once its parent shows it back
            continue;
        }
        if (wd < 0) {
            why = "cannot watch " + step.folder.string() + ": " + std::strerror(error);
            return false;
        }
        if (const char* kind = remoteFileSystem(step.folder)) {
            why = step.folder.string() + " is on a " + kind + " file system";
            return false;
        }
        watched.push_back({wd, step.name, step.file});
    }
    return true;
}

void FileWatch::disarm() {
    for (const Watched& w : watched) {
        inotify_rm_watch(fd, w.wd); // a descriptor shared by two steps fails the second time
    }
    watched.clear();
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
    last = look();
    nextLook = std::chrono::steady_clock::now() + kLookInterval;
}

void FileWatch::start(const std::string& file) {
    stop();
    path = file;
    polling = false;
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
                    rearm = rearm || !w.file; // a link or folder on the way changed
                }
            }
        }
    }
    if (rearm || !complete) {
        const bool wasComplete = complete;
        if (rearm) {
            disarm();
        }
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
    last = look();
    nextLook = std::chrono::steady_clock::now() + kLookInterval;
}

bool FileWatch::poll() {
    return !path.empty() && lookIfDue();
}

void FileWatch::stop() {
    path.clear();
}

#endif
