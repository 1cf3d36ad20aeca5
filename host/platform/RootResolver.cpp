#include "host/platform/RootResolver.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "host/platform/HostPlatform.h"

namespace {

// As many links as the kernel follows in one lookup.
constexpr int kMaxLinks = 40;
// openat2 answers EAGAIN when a rename elsewhere raced with a ".." step.
constexpr int kRaceRetries = 8;

std::atomic<bool> forcedWalk{false};
std::atomic<bool> kernelLacksOpenat2{false};

// The root directory's descriptor, opened once and kept while the root's
// path stays the same: opening it on every call cost as much as the lookup
// itself. A root deleted since is noticed when a lookup in it fails (see
// RootDir::stale); a root renamed away stays this process's root.
struct KeptRoot {
    String path;
    int fd;
    KeptRoot(const String& root, int descriptor) : path(root), fd(descriptor) {}
    ~KeptRoot() {
        if (fd >= 0) ::close(fd);
    }
    KeptRoot(const KeptRoot&) = delete;
    KeptRoot& operator=(const KeptRoot&) = delete;
};

// Never destroyed: lookups may still come from other objects' destructors
// at exit.
struct Kept {
    std::mutex mutex;
    std::shared_ptr<const KeptRoot> root;
};

Kept& kept() {
    static Kept* k = new Kept;
    return *k;
}

std::shared_ptr<const KeptRoot> keptRoot(bool reopen) {
    const String& root = HostPlatform::root();
    Kept& k = kept();
    {
        std::lock_guard<std::mutex> lock(k.mutex);
        if (!reopen && k.root && k.root->path == root) return k.root;
    }
    int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    int error = errno;
    auto fresh = std::make_shared<const KeptRoot>(root, fd);
    if (fd >= 0) {
        std::lock_guard<std::mutex> lock(k.mutex);
        k.root = fresh;
    }
    errno = error;
    return fresh;
}

// The root for one call; a descriptor replaced meanwhile stays open until
// the calls using it are done.
struct RootDir {
    std::shared_ptr<const KeptRoot> root;
    int fd;
    explicit RootDir(bool reopen = false) : root(keptRoot(reopen)), fd(root->fd) {}
    // True when a lookup that failed with ENOENT may have failed only
    // because the kept directory was deleted and another made in its place.
    bool stale() const {
        struct stat info;
        return errno == ENOENT && ::fstat(fd, &info) == 0 && info.st_nlink == 0;
    }
};

std::deque<String> components(const String& path) {
    std::deque<String> parts;
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find('/', start);
        if (end == String::npos) end = path.size();
        if (end > start) parts.emplace_back(path, start, end - start);
        start = end + 1;
    }
    return parts;
}

// Where a component walk stands: the descriptors of the directories entered,
// the root's first (not owned), and their names. ".." leaves the last one
// entered, so it can never climb above the root.
class Walk {
  public:
    explicit Walk(int root) : fds_{root} {}
    ~Walk() {
        while (fds_.size() > 1) up();
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    int dir() const { return fds_.back(); }
    void up() {
        if (fds_.size() == 1) return;
        ::close(fds_.back());
        fds_.pop_back();
        names_.pop_back();
    }
    void toRoot() {
        while (fds_.size() > 1) up();
    }
    // O_NOFOLLOW: a directory swapped for a link after it was looked at is
    // refused rather than followed on the host.
    bool down(const String& name) {
        int fd = ::openat(dir(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        fds_.push_back(fd);
        names_.push_back(name);
        return true;
    }
    String path() const {
        String text;
        for (const String& name : names_) text += "/" + name;
        return text;
    }

  private:
    std::vector<int> fds_;
    std::vector<String> names_;
};

// Walks `todo` from where `walk` stands. 0 when only the last component is
// left (in `last`, possibly missing; empty when the path ends at the
// directory entered last); otherwise the errno that stopped the walk, with
// the component it stopped at back at the front of `todo`.
int step(Walk& walk, std::deque<String>& todo, bool followLast, String& last) {
    int links = 0;
    while (!todo.empty()) {
        String name = std::move(todo.front());
        todo.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            walk.up();
            continue;
        }
        char target[PATH_MAX];
        ssize_t n = -1;
        errno = EINVAL;  // a last component that is not followed counts as no link
        if (!todo.empty() || followLast)
            n = ::readlinkat(walk.dir(), name.c_str(), target, sizeof target);
        if (n > 0 && static_cast<std::size_t>(n) < sizeof target && ++links <= kMaxLinks) {
            std::deque<String> parts = components(String(target, static_cast<std::size_t>(n)));
            todo.insert(todo.begin(), parts.begin(), parts.end());
            if (target[0] == '/') walk.toRoot();
            continue;
        }
        int error = n >= 0 ? ELOOP : errno;
        if (todo.empty() && (error == EINVAL || error == ENOENT)) {
            last = std::move(name);
            return 0;
        }
        if (error == EINVAL && walk.down(name)) continue;
        if (error == EINVAL) error = errno;
        todo.push_front(std::move(name));
        return error;
    }
    return 0;
}

int openByWalk(const RootDir& root, const String& path, int flags, mode_t mode) {
    // As the kernel does: an exclusive create never follows a link at the end.
    bool followLast = !(flags & O_NOFOLLOW) && !((flags & O_CREAT) && (flags & O_EXCL));
    Walk walk(root.fd);
    std::deque<String> todo = components(path);
    String last;
    int error = step(walk, todo, followLast, last);
    if (error != 0) {
        errno = error;
        return -1;
    }
    // O_NOFOLLOW: the last component was seen not to be a link (or is not
    // to be followed); one that became a link since is refused.
    return ::openat(walk.dir(), last.empty() ? "." : last.c_str(), flags | O_NOFOLLOW | O_CLOEXEC,
                    mode);
}

int openByKernel(const RootDir& root, const String& path, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<unsigned>(flags | O_CLOEXEC);
    // openat2 refuses a mode where nothing is created.
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) how.mode = mode;
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    const char* relative = path.size() > 1 ? path.c_str() + 1 : ".";
    long fd = -1;
    for (int attempt = 0; attempt < kRaceRetries; ++attempt) {
        fd = ::syscall(SYS_openat2, root.fd, relative, &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) break;
    }
    return static_cast<int>(fd);
}

int openIn(const RootDir& root, const String& path, int flags, mode_t mode) {
    if (!forcedWalk && !kernelLacksOpenat2) {
        int fd = openByKernel(root, path, flags, mode);
        if (fd >= 0 || errno != ENOSYS) return fd;
        kernelLacksOpenat2 = true;
    }
    return openByWalk(root, path, flags, mode);
}

int resolveIn(const RootDir& root, const String& path, String& resolved) {
    Walk walk(root.fd);
    std::deque<String> todo = components(path);
    String last;
    int error = step(walk, todo, true, last);
    resolved = walk.path();
    if (error == ELOOP) return error;
    if (!last.empty()) resolved += "/" + last;
    for (const String& name : todo) resolved += "/" + name;
    resolved = HostPlatform::normalPath(resolved);
    return error;
}

// A chroot at the host's own root is the host: the kernel's own lookup is
// the same walk, without a descriptor of "/" to hold.
bool rootIsHost() {
    return HostPlatform::root() == "/" && !forcedWalk;
}

// call(root) in the kept root, and once more in the root opened afresh when
// it failed as a lookup in a deleted root does (ENOENT, the kept directory
// unlinked). failed(answer) tells whether call's answer is a failure.
template <class Call, class Failed>
auto inRoot(Call call, Failed failed) {
    RootDir root;
    auto answer = call(root);
    if (root.fd < 0 || !failed(answer) || !root.stale()) return answer;
    return call(RootDir(true));
}

}  // namespace

int RootResolver::open(const String& path, int flags, mode_t mode) {
    if (rootIsHost()) return ::open(path.c_str(), flags | O_CLOEXEC, mode);
    return inRoot(
        [&](const RootDir& root) { return root.fd < 0 ? -1 : openIn(root, path, flags, mode); },
        [](int fd) { return fd < 0; });
}

int RootResolver::stat(const String& path, struct stat* info) {
    if (rootIsHost()) return ::stat(path.c_str(), info);
    int fd = open(path, O_PATH);
    if (fd < 0) return -1;
    int rc = ::fstat(fd, info);
    int error = errno;
    ::close(fd);
    errno = error;
    return rc;
}

int RootResolver::resolve(const String& path, String& resolved) {
    auto walk = [&](const RootDir& root) {
        // Without a root directory there is nothing a link could be.
        int error = root.fd < 0 ? errno : resolveIn(root, path, resolved);
        if (root.fd < 0) resolved = path;
        errno = error;
        return error;
    };
    return inRoot(walk, [](int error) { return error != 0; });
}

void RootResolver::forceWalk(bool on) {
    forcedWalk = on;
}
