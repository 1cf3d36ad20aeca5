#include "host/platform/IndexFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// LMDB's reader table with its default 126 readers takes about 8 KiB; this
// leaves room for a larger cache line.
constexpr off_t kLockReserve = 64 * 1024;

// Opens path, creating it with mode when missing; `made` is set to path when
// this call created it. A descriptor, or -1 with errno set.
int openOrCreate(const String& path, int flags, int mode, String& made) {
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
        made = path;
        return fd;
    }
    return errno == EEXIST ? ::open(path.c_str(), flags | O_CLOEXEC) : -1;
}

}  // namespace

bool IndexFiles::makeData(const String& path, int mode) {
    int fd = openOrCreate(path, O_RDONLY, mode, data_);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

void IndexFiles::canonicalData(const String& path) {
    if (!data_.empty()) data_ = path;
}

int IndexFiles::reserveLock(const String& dataFile, int mode) {
    int fd = openOrCreate(dataFile + "-lock", O_RDWR, mode, lock_);
    if (fd < 0) return errno;
    // A new (or empty) lock file gets room beyond its end, leaving alone the
    // length LMDB reads to size its table; an existing one is backed over its
    // length, a no-op unless an earlier open died half-way.
    struct stat st;
    int error = 0;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else {
        off_t length = st.st_size > 0 ? st.st_size : kLockReserve;
        if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length) != 0 && errno != EOPNOTSUPP &&
            errno != ENOSYS)
            error = errno;
    }
    ::close(fd);
    return error;
}

void IndexFiles::removeMade() const {
    int error = errno;
    if (!lock_.empty()) ::unlink(lock_.c_str());
    if (!data_.empty()) ::unlink(data_.c_str());
    errno = error;
}
