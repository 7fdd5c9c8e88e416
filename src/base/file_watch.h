#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Tells when one file has been written, replaced, created or removed. Editors
// that save by writing a new file and renaming it over the old one are seen,
// because the file's folder is what is watched (by inotify on Linux). The
// path is followed as the system resolves it, name by name from the root:
// every folder on the way is watched for the name that leads on, so a folder
// or a symbolic link replaced at any level, or the file replaced by a link,
// is followed at once. A file is not reported as saved while a writer that
// has written to it still holds it open.
//
// Where inotify cannot do it (no inotify, the system's watches used up, a
// network or FUSE file system that does not report others' writes) the watch
// says so in one line and looks at the file itself twice a second: which file
// the path names, and what it holds, reported once two looks agree.
class FileWatch {
  public:
    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    void start(const std::string& path);
    // True when the file changed since the last call; never blocks.
    bool poll();
    // A writer still has the file open after writing to it (for at most
    // kWriterQuiet since its last write, in case it never closes it).
    bool beingWritten() const;
    void stop();

    static constexpr std::chrono::seconds kWriterQuiet{2};

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
    Look lastSeen; // the latest look, reported once the next one agrees
    std::chrono::steady_clock::time_point nextLook;
    bool writing = false;
    std::chrono::steady_clock::time_point lastWrite;
    [[maybe_unused]] int injectedError = 0;

    // A folder watched for one name in it: the file itself, or a link or
    // folder on the way to it (whose change means the way is looked up again).
    struct Watched {
        int wd = -1;
        std::string folder;
        std::string name;
        bool file = false;
        bool operator==(const Watched&) const = default;
    };
    std::vector<Watched> watched;
    // Where there is no inotify these stay unused.
    [[maybe_unused]] int fd = -1;
    [[maybe_unused]] bool complete = false; // false while a folder on the way is missing

    // Looks the way up again and watches it, dropping the watches it no
    // longer needs. False when a folder cannot be watched for another reason
    // than being missing; `why` says which and what went wrong.
    bool arm(std::string& why);
    void disarm();
    void fileEvent(std::uint32_t mask, const Watched& step, bool& rearm);
    void fallBack(const std::string& why);
};
