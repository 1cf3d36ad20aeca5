#include "properties/LockedFile.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/BlockingCall.h"
#include "platform/FileSystem.h"

namespace {

// Beyond this many replacements during one wait the file is taken as it is:
// a writer that replaces a file that often would otherwise starve a reader.
constexpr int kMaxReopens = 1000;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the file, and for a writer creates it when missing, telling whether
// it did: a writer gives a file it created the default owner and mode. A
// name that exists but cannot be opened (a dangling link) is opened with
// O_CREAT as before, which creates the link's target; `created` stays false.
int openOrCreate(const Path& path, int flags, bool& created) {
    created = false;
    int fd = FileSystem::open(path, flags);
    // A writer reads the file too (the journal records what a save
    // replaces); a file it may write but not read is still written.
    if (fd < 0 && errno == EACCES && (flags & O_ACCMODE) == O_RDWR)
        fd = FileSystem::open(path, (flags & ~O_ACCMODE) | O_WRONLY);
    if (fd >= 0 || errno != ENOENT || (flags & O_ACCMODE) == O_RDONLY) return fd;
    fd = FileSystem::open(path, flags | O_CREAT | O_EXCL, 0664);
    if (fd >= 0) created = true;
    if (fd >= 0 || errno != EEXIST) return fd;
    return FileSystem::open(path, flags | O_CREAT, 0664);
}

}  // namespace

LockedFile::~LockedFile() {
    close();
}

void LockedFile::close() {
    if (fd_ >= 0) FileSystem::close(fd_);
    fd_ = -1;
}

LockedFile::Outcome LockedFile::open(const Path& path, Mode mode, const char* releaseReason,
                                     const char* acquireReason) {
    close();
    int flags = mode == Shared ? O_RDONLY : O_RDWR;
    for (int attempt = 0;; ++attempt) {
        fd_ = openOrCreate(path, flags | O_NONBLOCK, created_);
        if (fd_ < 0) {
            if (errno == EISDIR || errno == ENXIO) return NOT_REGULAR;
            return mode == Shared && errno == ENOENT ? MISSING : OPEN_FAILED;
        }
        if (FileSystem::fstat(fd_, &info_) == 0 && !S_ISREG(info_.st_mode)) {
            close();
            errno = EINVAL;
            return NOT_REGULAR;
        }
        struct flock region {};
        region.l_type = mode == Shared ? F_RDLCK : F_WRLCK;
        region.l_whence = SEEK_SET;
        int rc = blockingCall(releaseReason, acquireReason,
                              [&] { return FileSystem::lock(fd_, F_SETLKW, &region); });
        if (rc != 0) {
            lockError_ = errno;
            FileSystem::fstat(fd_, &info_);
            return UNLOCKED;
        }
        struct stat named;
        if (FileSystem::fstat(fd_, &info_) != 0) {
            lockError_ = errno;
            return UNLOCKED;
        }
        bool current = FileSystem::stat(path, &named) == 0 && sameFile(named, info_);
        if (current || attempt == kMaxReopens) return LOCKED;
        close();
        // Emptied and removed while we waited: for a reader that is an empty set.
        if (mode == Shared && !FileSystem::exists(path)) return MISSING;
    }
}
