#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Tells when one file has been written, replaced, created or removed. Editors
// that save by writing a new file and renaming it over the old one are seen,
// because the file's folder is what is watched (by inotify on Linux). A path
// that is a symbolic link is followed to the file it names, and followed again
// when the link changes; every folder on the way (the link's, the file's and
// those between) is watched again once it is replaced.
//
// Where inotify cannot do it (no inotify, the system's watches used up, a
// network or FUSE file system that does not report others' writes) the watch
// says so in one line and looks at the file itself twice a second: which file
// the path names, and what it holds.
class FileWatch {
  public:
    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    void start(const std::string& path);
    // True when the file changed since the last call; never blocks.
    bool poll();
    void stop();

    // For tests: every inotify_add_watch from now on fails with this error.
    void failWatchesWith(int error) { injectedError = error; }

  private:
    // What the path names and holds, as the polled form compares it.
    struct Look {
        bool exists = false;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t mtime = 0;
        std::int64_t size = 0;
        std::uint64_t contents = 0; // a hash of the bytes
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    bool lookIfDue();

    std::string path;
    bool polling = true;
    Look last;
    std::chrono::steady_clock::time_point nextLook;
    [[maybe_unused]] int injectedError = 0;

    // A folder watched for one name in it: the file itself, or a link or
    // folder on the way to it (whose change means the way is looked up again).
    struct Watched {
        int wd = -1;
        std::string name;
        bool file = false;
    };
    std::vector<Watched> watched;
    // Where there is no inotify these stay unused.
    [[maybe_unused]] int fd = -1;
    [[maybe_unused]] bool complete = false; // false while a folder on the way is missing

    // False when a folder cannot be watched for another reason than being
    // missing; `why` says which and what went wrong.
    bool arm(std::string& why);
    void disarm();
    void fallBack(const std::string& why);
};
