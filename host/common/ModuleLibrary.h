#pragma once

#include "platform/String.h"

// A library linked against the module by its SONAME, loaded (dlopen) only
// after the module itself has been loaded by path: the dynamic linker then
// finds the library's dependency already loaded, so the library's references
// bind to that module whatever its file is called. Closed when the object
// goes, which must be before the module is unloaded.
class ModuleLibrary {
  public:
    ModuleLibrary() = default;
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // The directory beside the installed module that holds the libraries
    // loaded after it (cmake/Install.cmake installs them there).
    static constexpr const char* kPrivateDirectory = "config_adm";

    // Loads the library `name` (beside the running program, else in
    // kPrivateDirectory beside the loaded module that holds `moduleObject`,
    // else beside that module, else by the dynamic linker's search); false
    // with the reason on error.
    bool load(const char* name, const void* moduleObject, String& error);
    // The address of `symbol` in the loaded library, or null.
    void* symbol(const char* symbol) const;
    // The file loaded, or the one tried last.
    const String& path() const { return path_; }

  private:
    void* handle_ = nullptr;
    String path_;
};
