#include "host/vmcfg/ModuleCommands.h"

#include <dlfcn.h>

#include <ostream>

#include "host/vmcfg/CommandsLibrary.h"

namespace {

constexpr const char* kLibrary = "libvmcfg_commands.so";

}  // namespace

bool ModuleCommands::load(std::ostream& err) {
    String error;
    if (!module_.load(AdmModule::defaultPath(), error)) {
        err << "vmcfg: can't load the module: " << error << std::endl;
        return false;
    }
    // Unmapped only at exit, as FormSession::Unload::atExit has it.
    dlopen(AdmModule::defaultPath().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    if (library_.load(kLibrary, module_.data(), error)) {
        run_ = reinterpret_cast<int (*)(int, char**)>(library_.symbol(kModuleCommandsEntry));
        version_ = reinterpret_cast<const char* (*)()>(library_.symbol(kModuleVersionEntry));
        check_ = reinterpret_cast<int (*)(int, char**)>(library_.symbol(kModuleCheckEntry));
        if (run_ == nullptr || version_ == nullptr || check_ == nullptr) error = "no entry points";
    }
    if (run_ == nullptr || version_ == nullptr || check_ == nullptr) {
        err << "vmcfg: can't load the module's commands " << library_.path() << ": " << error
            << std::endl;
        return false;
    }
    return true;
}

int ModuleCommands::run(int argc, char** argv) {
    return run_(argc, argv);
}

int ModuleCommands::check(int argc, char** argv) {
    return check_(argc, argv);
}

String ModuleCommands::moduleVersion() const {
    return version_();
}
