#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/Path.h"

// Every file system call of the module goes through here. Paths are platform
// paths ("/VM/config/sys_prop_db"); the platform decides where they live (the
// stand-in places them under its root and follows symbolic links the way a
// chroot there would, so no call reaches a file outside the root). Each call
// behaves like the POSIX call of the same name: -1 (or false) with errno set
// on failure.
// File descriptors are plain POSIX descriptors owned by the caller.
class FileSystem {
  public:
    static int open(const Path& path, int flags, mode_t mode = 0666);
    static int close(int fd);
    static ssize_t read(int fd, void* buffer, size_t count);
    // Writes all count bytes unless a call fails (then -1).
    static ssize_t write(int fd, const void* buffer, size_t count);
    static off_t lseek(int fd, off_t offset, int whence);
    static int stat(const Path& path, struct stat* info);
    // stat() for a file asked about again and again only to learn whether
    // it changed. The platform may give its last answer again when it can
    // tell that nothing at the path or on the way to it changed since; the
    // results and errno are those of stat() (access times aside).
    static int watchedStat(const Path& path, struct stat* info);
    static int fstat(int fd, struct stat* info);
    static int access(const Path& path, int mode);
    static int unlink(const Path& path);
    static int truncate(const Path& path, off_t length);
    static int ftruncate(int fd, off_t length);
    static int fchmod(int fd, mode_t mode);
    static int fchown(int fd, uid_t owner, gid_t group);
    // fcntl record locks: F_SETLK, F_SETLKW, F_GETLK. F_SETLKW blocks: call it
    // inside blockingCall.
    static int lock(int fd, int command, struct flock* region);
    static int rename(const Path& from, const Path& to);
    // Forces the file's bytes to stable storage.
    static int fsync(int fd);
    // Forces a directory's entries (a rename or create in it) to stable storage.
    static int syncDirectory(const Path& directory);
    // The text of a symbolic link (what it points at, as written in the link).
    static int readlink(const Path& path, String& target);
    // mkdir -p; true when the directory exists afterwards.
    static bool makeDirectories(const Path& directory);
    // The path of the file `path` leads to once every symbolic link in it,
    // the last component's included, is followed; no component of the answer
    // is a link. A missing tail is kept as named. -1 with errno (ELOOP for
    // links that loop) when the path cannot be followed.
    static int resolve(const Path& path, Path& resolved);
    // Whether a file (of any kind) exists at path.
    static bool exists(const Path& path);

    // A fresh path "directory/prefix<unique>suffix" that no live file uses; the
    // directory is created when missing. Nothing is created at the path itself.
    static Path uniqueTempPath(const Path& directory, const String& prefix, const String& suffix);
};
