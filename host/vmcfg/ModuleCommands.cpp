#include "host/vmcfg/ModuleCommands.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "host/vmcfg/CommandsLibrary.h"

namespace {

constexpr const char* kLibrary = "libvmcfg_commands.so";

}  // namespace

ModuleCommands::~ModuleCommands() {
    // The library goes first: it refers to the module.
    if (library_ != nullptr) dlclose(library_);
}

String ModuleCommands::libraryPath() const {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    // Beside vmcfg in the build tree; installed, in the module's directory.
    Dl_info where{};
    std::filesystem::path module =
        dladdr(module_.data(), &where) != 0 && where.dli_fname ? where.dli_fname : "";
    for (const std::filesystem::path& directory : {self.parent_path(), module.parent_path()}) {
        if (directory.empty()) continue;
        String beside = (directory / kLibrary).string();
        if (::access(beside.c_str(), R_OK) == 0) return beside;
    }
    return kLibrary;
}

bool ModuleCommands::load(std::ostream& err) {
    String error;
    if (!module_.load(AdmModule::defaultPath(), error)) {
        err << "vmcfg: can't load the module: " << error << std::endl;
        return false;
    }
    // Unmapped only at exit, as FormSession::Unload::atExit has it.
    dlopen(AdmModule::defaultPath().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    String path = libraryPath();
    dlerror();
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ != nullptr) {
        run_ = reinterpret_cast<int (*)(int, char**)>(dlsym(library_, kModuleCommandsEntry));
        version_ = reinterpret_cast<const char* (*)()>(dlsym(library_, kModuleVersionEntry));
    }
    if (run_ == nullptr || version_ == nullptr) {
        const char* why = dlerror();
        err << "vmcfg: can't load the module's commands " << path << ": "
            << (why ? why : "no entry points") << std::endl;
        return false;
    }
    return true;
}

int ModuleCommands::run(int argc, char** argv) {
    return run_(argc, argv);
}

String ModuleCommands::moduleVersion() const {
    return version_();
}
