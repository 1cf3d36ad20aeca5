#include "host/platform/StatWatch.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/platform/HostPlatform.h"
#include "host/platform/ReadyFlag.h"
#include "host/platform/RootResolver.h"

namespace {

// Everything that can change what stat says of an entry, or whether the
// walk to it still leads to the same entries.
constexpr std::uint32_t kEvents = IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                                  IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                  IN_ONLYDIR;
// The entry a path names is watched itself as well, whatever it is: a file
// written or given new attributes through a hard link elsewhere is reported
// only there, and so is a change to a directory's own entries.
constexpr std::uint32_t kEntryEvents = kEvents & ~IN_ONLYDIR;
// Events that concern the watched directory itself, whatever their name.
constexpr std::uint32_t kWholeDirectory = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
// Paths answered from memory at most; one more starts the table afresh.
constexpr std::size_t kKeptPaths = 64;

// File systems whose every change passes through this kernel, so that
// inotify hears of it. On a network or user-space file system another host
// or the server may change a file unheard: answers found there are not kept.
bool changesAreHeard(int directory) {
    static constexpr unsigned long kLocal[] = {
        0xEF53,      // ext2, ext3, ext4
        0x58465342,  // xfs
        0x9123683E,  // btrfs
        0x01021994,  // tmpfs
        0x858458F6,  // ramfs
        0x794C7630,  // overlayfs
        0x2FC12FC1,  // zfs
        0xF2F52010,  // f2fs
        0xCA451A4E,  // bcachefs
    };
    struct statfs system;
    if (::fstatfs(directory, &system) != 0) return false;
    auto type = static_cast<unsigned long>(system.f_type);
    return std::find(std::begin(kLocal), std::end(kLocal), type) != std::end(kLocal);
}

// One directory on the way to a path and the name looked up in it; the
// entry itself has an empty name (any event of its watch concerns it).
struct Step {
    int watch;
    String name;
};

struct Answer {
    int result;
    int error;
    struct stat info;
    std::vector<Step> steps;
};

struct Watcher {
    std::mutex mutex;
    int fd = -1;
    bool unusable = false;
    ReadyFlag queued;  // raised when the inotify queue may hold events
    std::unordered_map<String, Answer> answers;
    String root;  // the platform root the answers were found in

    const std::pair<const String, Answer>* last = nullptr;  // the answer given last

    bool ready();
    // ready(), after dropping every answer when the root is another.
    bool readyFor(const String& root);
    void startAfresh();
    const Answer* kept(const String& path);
    int lookUpAndKeep(const String& path, struct stat* info);
    void drain();
    void apply(const inotify_event& event);
    bool watchTheWay(const String& path, std::vector<Step>& steps);
    bool watchEntry(int directory, const String& name, std::vector<Step>& steps);
    // Watches the entry open as `entry` (an O_PATH descriptor).
    int addWatch(int entry, std::uint32_t events);
};

Watcher* theWatcher = nullptr;

// A child shares the parent's queue: reading it would take the parent's
// events. It closes its copy and starts with no answers. The lock is held
// across the fork, so that no answer is half made in the child.
void lockForFork() {
    theWatcher->mutex.lock();
}
void unlockAfterFork() {
    theWatcher->mutex.unlock();
}
void startChild() {
    theWatcher->queued.forget();
    if (theWatcher->fd >= 0) ::close(theWatcher->fd);
    theWatcher->fd = -1;
    theWatcher->last = nullptr;
    theWatcher->answers.clear();
    theWatcher->mutex.unlock();
}

Watcher& watcher() {
    // Never destroyed: static objects may still stat during exit.
    static Watcher* w = [] {
        theWatcher = new Watcher;
        pthread_atfork(lockForFork, unlockAfterFork, startChild);
        return theWatcher;
    }();
    return *w;
}

bool Watcher::ready() {
    if (fd < 0 && !unusable) {
        fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        unusable = fd < 0;
        if (fd >= 0) queued.watch(fd);
    }
    return fd >= 0;
}

bool Watcher::readyFor(const String& current) {
    if (root != current) {
        startAfresh();
        root = current;
    }
    return ready();
}

// Drops every answer and watch (closing the instance removes its watches).
void Watcher::startAfresh() {
    last = nullptr;
    answers.clear();
    // The ring's poll request holds the instance open: the ring goes first,
    // so that closing the descriptor lets the instance and its watches go
    // as soon as the ring's teardown has dropped the request.
    queued.stop();
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void Watcher::drain() {
    // Room for the largest event, so that a short read means an empty queue.
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) return startAfresh();  // the instance is broken: answers may be stale
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            apply(*event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        if (static_cast<std::size_t>(n) + sizeof(inotify_event) + NAME_MAX + 1 <= sizeof buffer)
            return;
    }
}

void Watcher::apply(const inotify_event& event) {
    last = nullptr;
    if (event.mask & IN_Q_OVERFLOW) {
        answers.clear();
        return;
    }
    bool whole = event.len == 0 || (event.mask & kWholeDirectory) != 0;
    std::string_view name(event.name, event.len == 0 ? 0 : ::strnlen(event.name, event.len));
    std::erase_if(answers, [&](const auto& kept) {
        return std::any_of(kept.second.steps.begin(), kept.second.steps.end(), [&](const Step& s) {
            return s.watch == event.wd && (whole || s.name.empty() || s.name == name);
        });
    });
}

int Watcher::addWatch(int entry, std::uint32_t events) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", entry);
    return ::inotify_add_watch(fd, self, events);
}

// Watches each directory from the root down before looking at the name in
// it, so that a change made after the look is always reported. False when
// the path cannot be watched whole (a link, a directory that cannot be
// read, no watch left): its answer is then not kept.
bool Watcher::watchTheWay(const String& path, std::vector<Step>& steps) {
    int directory = ::open(HostPlatform::root().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    bool whole = directory >= 0;
    for (std::size_t at = 1; whole && at < path.size();) {
        std::size_t end = std::min(path.find('/', at), path.size());
        String name = path.substr(at, end - at);
        at = end + 1;
        int watch = changesAreHeard(directory) ? addWatch(directory, kEvents) : -1;
        if (watch < 0 || name.empty() || name == "." || name == "..")
            return ::close(directory), false;
        steps.push_back({watch, name});
        struct stat entry;
        if (::fstatat(directory, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            whole = errno == ENOENT;  // its creation will be reported
            break;
        }
        if (S_ISLNK(entry.st_mode)) whole = false;
        if (!whole) break;
        if (!S_ISDIR(entry.st_mode) || at >= path.size()) {
            whole = watchEntry(directory, name, steps);
            break;
        }
        int next = ::openat(directory, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(directory);
        directory = next;
        whole = next >= 0;
    }
    if (directory >= 0) ::close(directory);
    return whole;
}

// Watches the entry `name` in directory that a path ends at (kEntryEvents).
// False when it cannot be watched: its answer is then not kept. An entry
// swapped since it was looked at is reported by its directory's watch.
bool Watcher::watchEntry(int directory, const String& name, std::vector<Step>& steps) {
    int entry = ::openat(directory, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (entry < 0) return false;
    int watch = addWatch(entry, kEntryEvents);
    ::close(entry);
    if (watch < 0) return false;
    steps.push_back({watch, String()});
    return true;
}

// A form asks of one file again and again: the answer given last is found
// without hashing the path.
const Answer* Watcher::kept(const String& path) {
    if (last != nullptr && last->first == path) return &last->second;
    auto found = answers.find(path);
    if (found == answers.end()) return nullptr;
    last = &*found;
    return &found->second;
}

int Watcher::lookUpAndKeep(const String& path, struct stat* info) {
    if (answers.size() >= kKeptPaths) startAfresh();
    const String normal = HostPlatform::normalPath(path);
    if (!ready()) return RootResolver::stat(normal, info);
    Answer answer{};
    // The root itself has no directory above it to report its changes.
    bool keep = watchTheWay(normal, answer.steps) && !answer.steps.empty();
    int result = answer.result = RootResolver::stat(normal, &answer.info);
    int error = answer.error = result == 0 ? 0 : errno;
    *info = answer.info;
    if (keep) answers.emplace(path, std::move(answer));
    errno = error;
    return result;
}

}  // namespace

int StatWatch::stat(const String& path, struct stat* info) {
    Watcher& w = watcher();
    std::unique_lock<std::mutex> lock(w.mutex);
    if (!w.readyFor(HostPlatform::root())) {
        lock.unlock();
        return RootResolver::stat(HostPlatform::normalPath(path), info);
    }
    if (w.queued.raised()) {
        w.queued.settle();
        w.drain();
    }
    if (const Answer* kept = w.kept(path)) {
        *info = kept->info;
        errno = kept->error;
        return kept->result;
    }
    return w.lookUpAndKeep(path, info);
}
