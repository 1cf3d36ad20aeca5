#pragma once

#include <iosfwd>

#include "host/common/ModuleLibrary.h"
#include "host/platform/AdmModule.h"
#include "platform/String.h"

// vmcfg links nothing of the module, so that the module it loads is always
// the one it names. The command groups that call the module's functions
// directly live in libvmcfg_commands.so (CommandsLibrary.h), which is linked
// against the module by its SONAME: this class loads the module first, by
// dlopen as the administration server does (beside vmcfg, else by name),
// then the library, whose dependency the dynamic linker then finds already
// loaded. Both stay loaded until the object goes (the library first).
class ModuleCommands {
  public:
    ModuleCommands() = default;
    ModuleCommands(const ModuleCommands&) = delete;
    ModuleCommands& operator=(const ModuleCommands&) = delete;

    // False with the reason on err ("vmcfg: can't load the module: ...").
    bool load(std::ostream& err);
    // Runs the command line through the library (load() first).
    int run(int argc, char** argv);
    // Parses the command line only (load() first): -1 when it is good, else
    // the exit status after the library told what is wrong.
    int check(int argc, char** argv);
    // The loaded module's version (load() first).
    String moduleVersion() const;

  private:
    AdmModule module_;
    ModuleLibrary library_;  // found as ModuleLibrary::load says
    int (*run_)(int, char**) = nullptr;
    int (*check_)(int, char**) = nullptr;
    const char* (*version_)() = nullptr;
};
