#pragma once

// The entry points of libvmcfg_commands.so: the command groups of vmcfg that
// call the module's functions directly (init, param, props, address,
// message, history, revert, sweep). The library is linked against the module; vmcfg is not, and
// loads it only after it has loaded the module by dlopen, so that the
// library's references bind to that module (see ModuleCommands).

extern "C" {

// Parses vmcfg's whole command line and runs the selected group; returns the
// exit status. The caller has settled the platform root and holds the run
// token.
int vmcfg_module_commands(int argc, char** argv);

// Only parses the command line, as vmcfg_module_commands would: -1 when it
// is good, else the exit status after the usage error (or the help) was
// written. Needs no platform root: a mistyped command is told as such
// before the root is looked at.
int vmcfg_module_check(int argc, char** argv);

// The version of the module the library is bound to.
const char* vmcfg_module_version();
}

// The names under which dlsym finds them.
inline constexpr const char* kModuleCommandsEntry = "vmcfg_module_commands";
inline constexpr const char* kModuleVersionEntry = "vmcfg_module_version";
inline constexpr const char* kModuleCheckEntry = "vmcfg_module_check";

// The library's command groups as they describe themselves, for vmcfg's
// command line and its --help.
inline constexpr struct {
    const char* name;
    const char* description;
} kLibraryGroups[] = {
    {"init", "Make the platform directories (and sample contents)"},
    {"param", "Read the configuration-parameter file"},
    {"props", "Read and edit a property set"},
    {"address", "Locate and build network addresses"},
    {"message", "Property sets of stored messages"},
    {"history", "The change journal: who changed which property, when"},
    {"revert", "Undo one change-journal record"},
    {"sweep", "Remove the files dead processes left in /vm/tmp"},
};
