#include "host/common/HandoffSweep.h"

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
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>

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

const String kValueSuffix = ".p";

// The pid of a name "<pid>_<salt>_<counter><suffix>", else 0.
pid_t pidOfName(const String& name, const String& suffix) {
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    std::size_t end = name.size() - suffix.size();
    std::size_t first = name.find('_');
    std::size_t second = first == String::npos ? first : name.find('_', first + 1);
    if (second == String::npos || second >= end || !allOf(name, 0, first, ::isdigit) || first > 9 ||
        !allOf(name, first + 1, second, ::isxdigit) || !allOf(name, second + 1, end, ::isdigit))
        return 0;
    return static_cast<pid_t>(std::stol(name.substr(0, first)));
}

// When the process now bearing pid started, in seconds since the epoch; 0
// when that cannot be told. Field 22 of /proc/<pid>/stat counts clock ticks
// since boot; the boot time is "btime" in /proc/stat.
std::time_t startOf(pid_t pid) {
    static const long ticks = ::sysconf(_SC_CLK_TCK);
    static const std::time_t boot = [] {
        std::ifstream stat("/proc/stat");
        std::string word;
        long long seconds = 0;
        while (stat >> word)
            if (word == "btime" && stat >> seconds) break;
        return static_cast<std::time_t>(seconds);
    }();
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name (field 2) may hold blanks and parentheses: count
    // the fields after its last ')'.
    std::size_t close = text.rfind(')');
    if (boot == 0 || ticks <= 0 || close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number)
        if (number == 22) return boot + static_cast<std::time_t>(std::stoll(field) / ticks);
    return 0;
}

}  // namespace

pid_t HandoffSweep::senderOf(const String& name) const {
    for (const String& kind : kinds_)
        if (pid_t pid = pidOfName(name, kind); pid > 0) return pid;
    return 0;
}

pid_t HandoffSweep::valueOwnerOf(const String& name) {
    return pidOfName(name, kValueSuffix);
}

std::vector<HandoffSweep::Removal> HandoffSweep::run(bool dry, std::time_t now) const {
    std::vector<Removal> removed;
    String directory = HostPlatform::hostPath(Path("/vm/tmp"));
    int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        if (errno != ENOENT)
            MC_std_trace() << "sweep of /vm/tmp: cannot read " << directory << ": "
                           << std::strerror(errno) << oops;
        return removed;
    }
    DIR* dir = ::fdopendir(::dup(dirFd));
    struct Candidate {
        String name;
        pid_t pid;
        bool value;
    };
    std::vector<Candidate> candidates;
    while (dir != nullptr) {
        dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        if (pid_t sender = senderOf(entry->d_name); sender > 0)
            candidates.push_back({entry->d_name, sender, false});
        else if (pid_t owner = valueOwnerOf(entry->d_name); owner > 0)
            candidates.push_back({entry->d_name, owner, true});
    }
    if (dir != nullptr) ::closedir(dir);
    for (const Candidate& c : candidates) sweep(dirFd, c.name, c.pid, c.value, dry, now, removed);
    ::close(dirFd);
    return removed;
}

void HandoffSweep::sweep(int dirFd, const String& name, pid_t sender, bool value, bool dry,
                         std::time_t now, std::vector<Removal>& removed) const {
    int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        auto age = std::chrono::seconds(now - info.st_mtime);
        // A value file written before its pid's process started is an
        // earlier process's (a second's slack for the start's rounding).
        bool gone = !alive(sender) || (value && info.st_mtime + 1 < startOf(sender));
        bool stale = (gone && age >= deadSenderAge) || (!value && age >= maxAge);
        struct stat named;
        // The lock tells a file being read; the second status, that the name
        // still is the file examined.
        if (stale && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == info.st_ino && named.st_dev == info.st_dev) {
            const char* what = value ? "value" : "hand-off";
            if (dry || ::unlinkat(dirFd, name.c_str(), 0) == 0) {
                removed.push_back({name, info.st_size, sender, value, gone});
                if (!dry)
                    MC_std_trace() << "sweep of /vm/tmp: removed the " << what << " file '" << name
                                   << "' (" << info.st_size << " bytes) left by pid " << sender
                                   << (gone ? ", which is gone" : ", too long ago") << oops;
            } else {
                MC_std_trace() << "sweep of /vm/tmp: cannot remove the " << what << " file '"
                               << name << "': " << std::strerror(errno) << oops;
            }
        }
    }
    ::close(fd);
}
