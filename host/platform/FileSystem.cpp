#include "platform/FileSystem.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <random>
#include <unordered_map>

#include "host/platform/FaultInjector.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RootResolver.h"
#include "host/platform/StatWatch.h"

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

// Every path is looked up inside the root, links and all (see RootResolver).
int inRoot(const Path& path, int flags, mode_t mode = 0) {
    return RootResolver::open(HostPlatform::normalPath(path.text()), flags, mode);
}

// For calls on a name itself (unlink, rename, readlink): its directory,
// resolved inside the root, and the last component.
int parentOf(const Path& path, String& name) {
    String normal = HostPlatform::normalPath(path.text());
    std::size_t slash = normal.rfind('/');
    name = normal.substr(slash + 1);
    if (name.empty()) {
        errno = EBUSY;  // the root itself
        return -1;
    }
    return RootResolver::open(slash == 0 ? String("/") : normal.substr(0, slash),
                              O_PATH | O_DIRECTORY);
}

// Runs call(fd) on a descriptor that is closed afterwards, keeping errno.
template <class Call>
int withDescriptor(int fd, Call call) {
    if (fd < 0) return -1;
    int rc = call(fd);
    int error = errno;
    ::close(fd);
    errno = error;
    return rc;
}

}  // namespace

int FileSystem::open(const Path& path, int flags, mode_t mode) {
    if (injected(FaultOp::Open, path.text())) return -1;
    int fd = inRoot(path, flags, mode);
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
    return RootResolver::stat(HostPlatform::normalPath(path.text()), info);
}

int FileSystem::watchedStat(const Path& path, struct stat* info) {
    if (injected(FaultOp::Stat, path.text())) return -1;
    return StatWatch::stat(path.text(), info);
}

int FileSystem::fstat(int fd, struct stat* info) {
    if (injected(FaultOp::Stat, fd)) return -1;
    return ::fstat(fd, info);
}

int FileSystem::access(const Path& path, int mode) {
    if (injected(FaultOp::Access, path.text())) return -1;
    return withDescriptor(inRoot(path, O_PATH),
                          [&](int fd) { return ::faccessat(fd, "", mode, AT_EMPTY_PATH); });
}

int FileSystem::unlink(const Path& path) {
    if (injected(FaultOp::Unlink, path.text())) return -1;
    String name;
    return withDescriptor(parentOf(path, name),
                          [&](int dir) { return ::unlinkat(dir, name.c_str(), 0); });
}

int FileSystem::truncate(const Path& path, off_t length) {
    if (injected(FaultOp::Truncate, path.text())) return -1;
    // O_NONBLOCK: a FIFO is refused, not waited on.
    return withDescriptor(inRoot(path, O_WRONLY | O_NONBLOCK),
                          [&](int fd) { return ::ftruncate(fd, length); });
}

int FileSystem::ftruncate(int fd, off_t length) {
    if (injected(FaultOp::Truncate, fd)) return -1;
    return ::ftruncate(fd, length);
}

int FileSystem::fchmod(int fd, mode_t mode) {
    if (injected(FaultOp::Fchmod, fd)) return -1;
    return ::fchmod(fd, mode);
}

int FileSystem::fchown(int fd, uid_t owner, gid_t group) {
    if (injected(FaultOp::Fchmod, fd)) return -1;
    return ::fchown(fd, owner, group);
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
    String fromName, toName;
    return withDescriptor(parentOf(from, fromName), [&](int fromDir) {
        return withDescriptor(parentOf(to, toName), [&](int toDir) {
            return ::renameat(fromDir, fromName.c_str(), toDir, toName.c_str());
        });
    });
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
    return withDescriptor(inRoot(directory, O_RDONLY | O_DIRECTORY),
                          [](int fd) { return ::fsync(fd); });
}

int FileSystem::readlink(const Path& path, String& target) {
    if (injected(FaultOp::Stat, path.text())) return -1;
    char text[4096];
    String name;
    ssize_t n = withDescriptor(parentOf(path, name), [&](int dir) {
        return static_cast<int>(::readlinkat(dir, name.c_str(), text, sizeof text));
    });
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
    String normal = HostPlatform::normalPath(directory.text());
    // The root itself is the host's to make; below it, each level is made
    // inside the root, so a link on the way cannot lead the mkdir out.
    if (!HostPlatform::makeDirectories(HostPlatform::root())) return false;
    for (std::size_t slash = normal.find('/', 1);; slash = normal.find('/', slash + 1)) {
        String name, prefix = normal.substr(0, slash);
        int made = withDescriptor(parentOf(prefix, name), [&](int dir) {
            return ::mkdirat(dir, name.c_str(), 0777) == 0 || errno == EEXIST ? 0 : -1;
        });
        if (made != 0 && prefix != "/") return false;
        if (slash == String::npos) break;
    }
    return withDescriptor(inRoot(directory, O_PATH | O_DIRECTORY), [](int) { return 0; }) == 0;
}

int FileSystem::resolve(const Path& path, Path& resolved) {
    String text;
    int error = RootResolver::resolve(HostPlatform::normalPath(path.text()), text);
    if (error == 0 || error == ENOENT) {
        resolved = Path(text);
        return 0;
    }
    errno = error;
    return -1;
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
