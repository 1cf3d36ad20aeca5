#include "host/vmpropd/HandoffFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "host/platform/HostPlatform.h"
#include "platform/Path.h"

namespace {

// realpath(3) into a String; false with errno set.
bool resolve(const String& hostPath, String& resolved) {
    char buffer[PATH_MAX];
    if (::realpath(hostPath.c_str(), buffer) == nullptr) return false;
    resolved = buffer;
    return true;
}

// A name of the form senders use, unique within this process.
String senderName(const String& kind) {
    static std::atomic<unsigned> counter{0};
    static const unsigned long salt = static_cast<unsigned long>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFFFF);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%ld_%lx_%u", static_cast<long>(::getpid()), salt,
                  counter.fetch_add(1));
    return prefix + kind;
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

int HandoffFile::read(const String& platformPath, String& contents) {
    int fd = openChecked(platformPath);
    if (fd < 0) return -fd;
    int error = lockShared(fd);
    if (error == 0) error = readLocked(fd, contents);
    ::close(fd);
    return error;
}

int HandoffFile::readLocked(int fd, String& contents) {
    struct stat info;
    if (::fstat(fd, &info) != 0) return errno;
    if (!S_ISREG(info.st_mode)) return EINVAL;
    if (info.st_nlink == 0) return ENOENT;  // swept between the open and the lock
    if (info.st_nlink > 1) return EMLINK;   // another name's data, not a sender's own file
    if (info.st_size > maxSize) return EFBIG;
    return readAll(fd, info.st_size, contents);
}

int HandoffFile::lockShared(int fd) {
    // The sweep holds its exclusive lock only to remove a file, so a short
    // wait is enough; a lock held longer is someone else's, and must not
    // keep a handler thread waiting.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) return 0;
        if (errno != EWOULDBLOCK && errno != EINTR) return errno;
        ::usleep(2000);
    }
    return EWOULDBLOCK;
}

int HandoffFile::openChecked(const String& platformPath) {
    if (platformPath.empty()) return -ENOENT;
    String directory, resolved;
    if (!resolve(HostPlatform::hostPath(Path("/vm/tmp")), directory)) return -errno;
    if (!resolve(HostPlatform::hostPath(Path(platformPath)), resolved)) return -errno;
    // Only direct entries: then the last open below is relative to a
    // directory descriptor and no directory on the way can be swapped.
    if (resolved.size() <= directory.size() + 1 ||
        resolved.compare(0, directory.size(), directory) != 0 ||
        resolved[directory.size()] != '/' ||
        resolved.find('/', directory.size() + 1) != String::npos)
        return -EACCES;
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return -errno;
    String name = resolved.substr(directory.size() + 1);
    int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    int error = errno;
    ::close(dirFd);
    return fd >= 0 ? fd : -error;
}

int HandoffFile::readAll(int fd, off_t size, String& contents) {
    // One byte more than announced tells a file that grows while it is read;
    // what exceeds maxSize is refused, not truncated.
    contents.assign(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t have = 0;
    for (;;) {
        if (have == contents.size()) {
            if (contents.size() > static_cast<std::size_t>(maxSize)) return EFBIG;
            contents.resize(std::min(contents.size() * 2, static_cast<std::size_t>(maxSize) + 1));
        }
        ssize_t n = ::read(fd, contents.data() + have, contents.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    contents.resize(have);
    return 0;
}

int HandoffFile::store(std::string_view bytes, const String& kind, String& platformPath) {
    if (bytes.size() > static_cast<std::size_t>(maxSize)) return EFBIG;
    String directory = HostPlatform::hostPath(Path("/vm/tmp"));
    if (!HostPlatform::makeDirectories(directory)) return errno;
    String temporary = directory + "/" + senderName(kind), name = senderName(kind);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    int error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), (directory + "/" + name).c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    platformPath = "/vm/tmp/" + name;
    return 0;
}
