#include "host/platform/HostPlatform.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

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
}

const String& HostPlatform::root() {
    return settings().root;
}
void HostPlatform::setBox(std::uint16_t box) {
    settings().box = box;
}
std::uint16_t HostPlatform::box() {
    return settings().box;
}

String HostPlatform::hostPath(const Path& path) {
    const String& root = settings().root;
    if (path.empty() || path.text()[0] != '/' || root == "/") return path.text();
    return root + path.text();
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
