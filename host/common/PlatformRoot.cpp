#include "host/common/PlatformRoot.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"

#ifndef CFGADM_INSTALL_BINDIR
#define CFGADM_INSTALL_BINDIR "bin"
#endif

namespace {

String unquoted(String value) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
        value.pop_back();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

String PlatformRoot::defaultsFile() {
    if (const char* chosen = std::getenv("VM_DEFAULTS_FILE")) return chosen;
    // One build serves any install prefix (the package's /usr as well as
    // `make install PREFIX=...`), so the prefix is read from where the
    // program is, not from the prefix the build was configured with.
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return String();
    String directory = self.parent_path().string();
    const String bindir = String("/") + CFGADM_INSTALL_BINDIR;
    if (directory.size() < bindir.size() ||
        directory.compare(directory.size() - bindir.size(), bindir.size(), bindir) != 0)
        return String();
    String prefix = directory.substr(0, directory.size() - bindir.size());
    if (prefix.empty() || prefix == "/usr") return "/etc/default/vmplatform";
    return prefix + "/etc/default/vmplatform";
}

std::optional<String> PlatformRoot::rootFromFile(const String& file) {
    std::ifstream in(file);
    std::optional<String> root;
    for (String line; std::getline(in, line);) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == String::npos) continue;
        line.erase(0, start);
        if (line.rfind("export ", 0) == 0) line.erase(0, line.find_first_not_of(' ', 7));
        if (line.rfind("VM_ROOT=", 0) != 0) continue;
        String value = unquoted(line.substr(8));
        root = value.empty() ? std::nullopt : std::optional<String>(value);
    }
    return root;
}

String PlatformRoot::settle(const std::optional<String>& option) {
    std::optional<String> root = option;
    if (!root) {
        if (const char* given = std::getenv("VM_ROOT"); given && *given) root = String(given);
    }
    if (!root) {
        String file = defaultsFile();
        if (!file.empty()) root = rootFromFile(file);
    }
    HostPlatform::setRoot(root.value_or("/"));
    HostTrace::startLog();
    return HostPlatform::root();
}

bool PlatformRoot::initialised() {
    struct stat info;
    String config = HostPlatform::hostPath(Path("/VM/config"));
    return ::stat(config.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
