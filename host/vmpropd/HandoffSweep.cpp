#include "host/vmpropd/HandoffSweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <limits>

#include "host/platform/HostPlatform.h"
#include "platform/Path.h"
#include "platform/Trace.h"

namespace {

// Whether text[from, to) is a non-empty run of characters that `accept` takes.
template <typename Accept>
bool allOf(const String& text, std::size_t from, std::size_t to, Accept accept) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i)
        if (!accept(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

bool alive(pid_t pid) {
    // EPERM: the process exists and belongs to someone else.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

pid_t HandoffSweep::senderOf(const String& name) const {
    for (const String& kind : kinds_) {
        if (name.size() <= kind.size() ||
            name.compare(name.size() - kind.size(), kind.size(), kind) != 0)
            continue;
        std::size_t end = name.size() - kind.size();
        std::size_t first = name.find('_');
        std::size_t second = first == String::npos ? first : name.find('_', first + 1);
        if (second == String::npos || second >= end || !allOf(name, 0, first, ::isdigit) ||
            first > 9 || !allOf(name, first + 1, second, ::isxdigit) ||
            !allOf(name, second + 1, end, ::isdigit))
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(name.substr(0, first)));
        if (pid > 0) return pid;
    }
    return 0;
}

std::size_t HandoffSweep::run() const {
    String directory = HostPlatform::hostPath(Path("/vm/tmp"));
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        if (errno != ENOENT)
            MC_std_trace() << "vmpropd: cannot sweep " << directory << ": " << std::strerror(errno)
                           << oops;
        return 0;
    }
    DIR* dir = ::fdopendir(::dup(dirFd));
    std::vector<std::pair<String, pid_t>> candidates;
    while (dir != nullptr) {
        dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        if (pid_t sender = senderOf(entry->d_name); sender > 0)
            candidates.emplace_back(entry->d_name, sender);
    }
    if (dir != nullptr) ::closedir(dir);
    std::size_t removed = 0;
    for (const auto& [name, sender] : candidates) removed += sweep(dirFd, name, sender);
    ::close(dirFd);
    return removed;
}

bool HandoffSweep::sweep(int dirFd, const String& name, pid_t sender) const {
    int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    bool removed = false;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        auto age = std::chrono::seconds(std::time(nullptr) - info.st_mtime);
        bool gone = !alive(sender);
        bool stale = (gone && age >= deadSenderAge) || age >= maxAge;
        struct stat named;
        // The lock tells a file being read; the second status, that the name
        // still is the file examined.
        if (stale && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == info.st_ino && named.st_dev == info.st_dev) {
            removed = ::unlinkat(dirFd, name.c_str(), 0) == 0;
            if (removed)
                MC_std_trace() << "vmpropd: removed the hand-off file '" << name << "' ("
                               << info.st_size << " bytes) left by pid " << sender
                               << (gone ? ", which is gone" : ", too long ago") << oops;
            else
                MC_std_trace() << "vmpropd: cannot remove the hand-off file '" << name
                               << "': " << std::strerror(errno) << oops;
        }
    }
    ::close(fd);
    return removed;
}
