#include "host/platform/HostPlatform.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "host/platform/JournalStore.h"
#include "host/platform/RootResolver.h"

namespace {

struct Settings {
    String root;
    std::uint16_t box;
};

Settings& settings() {
    static Settings* s = [] {
        const char* root = std::getenv("VM_ROOT");
        const char* box = std::getenv("VM_BOX");
        return new Settings{root && *root ? String(root) : String("/"),
                            static_cast<std::uint16_t>(box && *box ? std::atoi(box) : 1)};
    }();
    return *s;
}

}  // namespace

void HostPlatform::setRoot(const String& directory) {
    String root = directory.empty() ? String("/") : directory;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    settings().root = root;
    JournalStore::chooseAgain();
    // Commands the module runs (the feature command, "$(...)" terms of the
    // parameter file) work on the same root.
    ::setenv("VM_ROOT", root.c_str(), 1);
}

const String& HostPlatform::root() {
    return settings().root;
}
namespace {
std::atomic<bool> commandsRunFlag{true};
}  // namespace

void HostPlatform::setCommandsRun(bool run) {
    commandsRunFlag = run;
}

bool HostPlatform::commandsRun() {
    return commandsRunFlag;
}

void HostPlatform::setBox(std::uint16_t box) {
    settings().box = box;
}
std::uint16_t HostPlatform::box() {
    return settings().box;
}

// Platform paths are read as inside the root, the way a chroot reads them:
// "." and empty components go, ".." goes up but never above the root, and a
// relative path starts at the root. Links are the resolver's business.
String HostPlatform::normalPath(const String& path) {
    String normal;
    normal.reserve(path.size() + 1);
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == String::npos) end = path.size();
        std::string_view part(path.data() + start, end - start);
        if (part == "..") {
            normal.resize(normal.empty() ? 0 : normal.rfind('/'));
        } else if (!part.empty() && part != ".") {
            normal += '/';
            normal += part;
        }
        start = end + 1;
    }
    return normal.empty() ? String("/") : normal;
}

String HostPlatform::hostPath(const Path& path) {
    if (path.empty()) return String();
    const String& root = settings().root;
    String normal = normalPath(path.text());
    // A chroot at the host's own root is the host: no link can lead out.
    if (root == "/") return normal;
    String resolved;
    // The caller hands the answer to calls that follow links on the host, so
    // it must hold no link at all. A loop cannot be written that way: a name
    // longer than any file name makes every call on it fail instead.
    if (RootResolver::resolve(normal, resolved) == ELOOP)
        resolved += "/" + String(NAME_MAX + 1, '~');
    return resolved == "/" ? root : root + resolved;
}

bool HostPlatform::makeDirectories(const String& directory) {
    if (directory.empty()) return true;
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        String prefix = directory.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (slash == String::npos) return true;
    }
}

bool HostPlatform::makeParentDirectories(const String& hostFile) {
    std::size_t slash = hostFile.rfind('/');
    if (slash == String::npos || slash == 0) return true;
    return makeDirectories(hostFile.substr(0, slash));
}
