#pragma once

#include <cstdint>
#include <string>

// Tells when one file has been written, replaced, created or removed. Editors
// that save by writing a new file and renaming it over the old one are seen,
// because the file's folder is what is watched (by inotify on Linux, by
// polling the file's status elsewhere). A path that is a symbolic link is
// followed to the file it names, and followed again when the link changes; a
// folder that is moved away or removed is watched again once it is back.
class FileWatch {
  public:
    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // False (with a tagged line) when the folder cannot be watched.
    bool start(const std::string& path);
    // True when the file changed since the last call; never blocks.
    bool poll();
    void stop();

  private:
    std::string path;
    std::string name;       // of the file the path resolves to
    std::string folder;     // of that file
    std::string linkName;   // of the path itself, when its folder differs
    std::string linkFolder; // from the file's
    // Where there is no inotify these stay unused.
    [[maybe_unused]] int fd = -1;
    [[maybe_unused]] int watch = -1;     // the file's folder; -1 while it is gone
    [[maybe_unused]] int linkWatch = -1; // the path's own folder, when it differs

    bool arm();
    void disarm();
    // The polled form's last look at the file.
    bool existed = false;
    std::int64_t mtime = 0;
    std::int64_t size = 0;
    std::uint64_t inode = 0;

    void look();
    bool statChanged();
};
