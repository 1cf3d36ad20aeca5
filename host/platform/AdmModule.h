#pragma once

#include <string>

#include "platform/AdmFramework.h"

// A module loaded as the server loads it: dlopen of the shared library, then
// the exported objects SM_pkg_data and Forms by those names. Unloaded
// (dlclose) when the object goes.
class AdmModule {
  public:
    AdmModule() = default;
    ~AdmModule();
    AdmModule(const AdmModule&) = delete;
    AdmModule& operator=(const AdmModule&) = delete;

    // False with the reason in error when the library cannot be loaded or
    // lacks one of the two objects.
    bool load(const std::string& path, std::string& error);
    void unload();
    bool loaded() const { return handle_ != nullptr; }

    Appl_Adm_Data* data() const { return data_; }
    // The registry head as the module holds it now.
    Adm_Forms* forms() const { return forms_ ? *forms_ : nullptr; }
    Form* form(int number) const;

    // The module next to the running program (libconfig_adm.so in the same
    // directory), else next to this platform library (where it is
    // installed), else the bare name for the dynamic linker's search.
    static std::string defaultPath();

  private:
    void* handle_ = nullptr;
    Appl_Adm_Data* data_ = nullptr;
    Adm_Forms** forms_ = nullptr;
};
