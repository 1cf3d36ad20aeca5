#include "platform/FileSystem.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <random>
#include <unordered_map>

#include "host/platform/FaultInjector.h"
#include "host/platform/HostPlatform.h"

namespace {

// Which platform path each open descriptor belongs to, so that faults can be
// aimed at the reads, writes and locks of one file.
struct OpenFiles {
    std::mutex mutex;
    std::unordered_map<int, String> paths;
};

OpenFiles& openFiles() {
    static OpenFiles* files = new OpenFiles;
    return *files;
}

String pathOf(int fd) {
    std::lock_guard<std::mutex> lock(openFiles().mutex);
    auto it = openFiles().paths.find(fd);
    return it == openFiles().paths.end() ? String() : it->second;
}

bool injected(FaultOp op, const String& path) {
    int error = FaultInjector::check(op, path);
    if (error == 0) return false;
    errno = error;
    return true;
}

bool injected(FaultOp op, int fd) {
    return injected(op, pathOf(fd));
}

}  // namespace

int FileSystem::open(const Path& path, int flags, mode_t mode) {
    if (injected(FaultOp::Open, path.text())) return -1;
    int fd = ::open(HostPlatform::hostPath(path).c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(openFiles().mutex);
        openFiles().paths[fd] = path.text();
    }
    return fd;
}

int FileSystem::close(int fd) {
    {
        std::lock_guard<std::mutex> lock(openFiles().mutex);
        openFiles().paths.erase(fd);
    }
    return ::close(fd);
}

ssize_t FileSystem::read(int fd, void* buffer, size_t count) {
    if (injected(FaultOp::Read, fd)) return -1;
    ssize_t n;
    do n = ::read(fd, buffer, count);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t FileSystem::write(int fd, const void* buffer, size_t count) {
    if (injected(FaultOp::Write, fd)) return -1;
    const char* bytes = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

off_t FileSystem::lseek(int fd, off_t offset, int whence) {
    if (injected(FaultOp::Seek, fd)) return -1;
    return ::lseek(fd, offset, whence);
}

int FileSystem::stat(const Path& path, struct stat* info) {
    if (injected(FaultOp::Stat, path.text())) return -1;
    return ::stat(HostPlatform::hostPath(path).c_str(), info);
}

int FileSystem::fstat(int fd, struct stat* info) {
    if (injected(FaultOp::Stat, fd)) return -1;
    return ::fstat(fd, info);
}

int FileSystem::access(const Path& path, int mode) {
    if (injected(FaultOp::Access, path.text())) return -1;
    return ::access(HostPlatform::hostPath(path).c_str(), mode);
}

int FileSystem::unlink(const Path& path) {
    if (injected(FaultOp::Unlink, path.text())) return -1;
    return ::unlink(HostPlatform::hostPath(path).c_str());
}

int FileSystem::truncate(const Path& path, off_t length) {
    if (injected(FaultOp::Truncate, path.text())) return -1;
    return ::truncate(HostPlatform::hostPath(path).c_str(), length);
}

int FileSystem::ftruncate(int fd, off_t length) {
    if (injected(FaultOp::Truncate, fd)) return -1;
    return ::ftruncate(fd, length);
}

int FileSystem::fchmod(int fd, mode_t mode) {
    if (injected(FaultOp::Fchmod, fd)) return -1;
    return ::fchmod(fd, mode);
}

int FileSystem::lock(int fd, int command, struct flock* region) {
    if (injected(FaultOp::Lock, fd)) return -1;
    int rc;
    do rc = ::fcntl(fd, command, region);
    while (rc < 0 && errno == EINTR);
    return rc;
}

int FileSystem::rename(const Path& from, const Path& to) {
    if (injected(FaultOp::Rename, from.text())) return -1;
    return ::rename(HostPlatform::hostPath(from).c_str(), HostPlatform::hostPath(to).c_str());
}

int FileSystem::fsync(int fd) {
    if (injected(FaultOp::Fsync, fd)) return -1;
    int rc;
    do rc = ::fsync(fd);
    while (rc < 0 && errno == EINTR);
    return rc;
}

int FileSystem::syncDirectory(const Path& directory) {
    if (injected(FaultOp::Fsync, directory.text())) return -1;
    int fd = ::open(HostPlatform::hostPath(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int rc = ::fsync(fd);
    int error = errno;
    ::close(fd);
    errno = error;
    return rc;
}

int FileSystem::readlink(const Path& path, String& target) {
    if (injected(FaultOp::Stat, path.text())) return -1;
    char text[4096];
    ssize_t n = ::readlink(HostPlatform::hostPath(path).c_str(), text, sizeof text);
    if (n < 0) return -1;
    if (static_cast<size_t>(n) == sizeof text) {
        errno = ENAMETOOLONG;
        return -1;
    }
    target.assign(text, static_cast<size_t>(n));
    return 0;
}

bool FileSystem::makeDirectories(const Path& directory) {
    if (injected(FaultOp::Mkdir, directory.text())) return false;
    return HostPlatform::makeDirectories(HostPlatform::hostPath(directory));
}

bool FileSystem::exists(const Path& path) {
    struct stat info;
    return stat(path, &info) == 0;
}

Path FileSystem::uniqueTempPath(const Path& directory, const String& prefix, const String& suffix) {
    static std::atomic<unsigned long> counter{0};
    static const unsigned long salt = std::random_device{}();
    if (!exists(directory)) makeDirectories(directory);
    // pid + process-wide counter cannot collide among live names of this
    // machine; the salt keeps names of a reused pid apart from leftovers.
    for (;;) {
        char unique[64];
        std::snprintf(unique, sizeof unique, "%d_%lx_%lu", static_cast<int>(::getpid()),
                      salt & 0xffffff, counter.fetch_add(1));
        Path candidate = directory / (prefix + unique + suffix);
        if (!exists(candidate)) return candidate;
    }
}
