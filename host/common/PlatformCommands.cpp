#include "host/common/PlatformCommands.h"

#include <cstdlib>
#include <filesystem>

#include "platform/String.h"

void findPlatformCommandsBesideThisProgram() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return;
    const char* path = std::getenv("PATH");
    String value = self.parent_path().string() + (path && *path ? ":" + String(path) : "");
    ::setenv("PATH", value.c_str(), 1);
}
