#include "host/common/EditLock.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/BlockingCall.h"
#include "platform/FileSystem.h"

namespace {

Path directoryOf(const Path& path) {
    std::size_t slash = path.text().rfind('/');
    return Path(slash == String::npos || slash == 0 ? String("/") : path.text().substr(0, slash));
}

}  // namespace

EditLock::EditLock(const Path& lockFile) {
    FileSystem::makeDirectories(directoryOf(lockFile));
    fd_ = FileSystem::open(lockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    struct flock region {};
    region.l_type = F_WRLCK;
    region.l_whence = SEEK_SET;
    int rc = blockingCall("vmcfg: waiting for the edit lock", "vmcfg: edit lock taken",
                          [&] { return FileSystem::lock(fd_, F_SETLKW, &region); });
    held_ = rc == 0;
    if (!held_) error_ = errno;
}

EditLock::~EditLock() {
    // Closing the descriptor drops the lock.
    if (fd_ >= 0) FileSystem::close(fd_);
}
