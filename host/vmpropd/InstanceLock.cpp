#include "host/vmpropd/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "host/platform/HostPlatform.h"

namespace {

pid_t pidIn(int fd) {
    char text[24] = {};
    ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    long pid = std::strtol(text, nullptr, 10);
    return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

InstanceLock::Result InstanceLock::acquire(const String& hostPath) {
    if (fd_ >= 0) return Result::acquired;
    if (!HostPlatform::makeParentDirectories(hostPath)) return Result::failed;
    int fd = ::open(hostPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (fd < 0) return Result::failed;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        if (error == EWOULDBLOCK) holder_ = pidIn(fd);
        ::close(fd);
        errno = error;
        return error == EWOULDBLOCK ? Result::held : Result::failed;
    }
    fd_ = fd;
    // Only the holder writes, and only after it has the lock.
    String pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
        // The lock holds without the pid; a refused instance just cannot name us.
    }
    return Result::acquired;
}
