#include "host/common/ModuleLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

ModuleLibrary::~ModuleLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool ModuleLibrary::load(const char* name, const void* moduleObject, String& error) {
    std::error_code ignored;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ignored);
    // Beside the program in the build tree; installed, in the module's private
    // directory (a library without a SONAME has no place in the shared library
    // directory itself), or beside the module.
    Dl_info where{};
    std::filesystem::path module =
        dladdr(moduleObject, &where) != 0 && where.dli_fname ? where.dli_fname : "";
    path_ = name;
    std::filesystem::path moduleDirectory = module.parent_path();
    std::filesystem::path privateDirectory =
        moduleDirectory.empty() ? moduleDirectory : moduleDirectory / kPrivateDirectory;
    for (const std::filesystem::path& directory :
         {self.parent_path(), privateDirectory, moduleDirectory}) {
        if (directory.empty()) continue;
        String beside = (directory / name).string();
        if (::access(beside.c_str(), R_OK) == 0) {
            path_ = beside;
            break;
        }
    }
    dlerror();
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error = why ? why : "cannot load " + path_;
    }
    return handle_ != nullptr;
}

void* ModuleLibrary::symbol(const char* symbol) const {
    return handle_ != nullptr ? dlsym(handle_, symbol) : nullptr;
}
