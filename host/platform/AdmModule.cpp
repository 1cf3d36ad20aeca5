#include "host/platform/AdmModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "host/platform/AdmServer.h"

AdmModule::~AdmModule() {
    unload();
}

bool AdmModule::load(const std::string& path, std::string& error) {
    unload();
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = why ? why : ("cannot load " + path);
        return false;
    }
    auto* data = static_cast<Appl_Adm_Data*>(dlsym(handle, "SM_pkg_data"));
    auto* forms = static_cast<Adm_Forms**>(dlsym(handle, "Forms"));
    if (data == nullptr || forms == nullptr) {
        error = path + " exports no " + (data == nullptr ? "SM_pkg_data" : "Forms");
        dlclose(handle);
        return false;
    }
    handle_ = handle;
    data_ = data;
    forms_ = forms;
    return true;
}

void AdmModule::unload() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
    data_ = nullptr;
    forms_ = nullptr;
}

Form* AdmModule::form(int number) const {
    const Adm_Forms* entry = adm_find(forms(), number);
    return entry ? entry->form : nullptr;
}

namespace {

// Where this platform library was loaded from.
const char kThisLibrary = 0;

std::string besideFile(const std::string& file) {
    return file.substr(0, file.rfind('/') + 1) + "libconfig_adm.so";
}

}  // namespace

std::string AdmModule::defaultPath() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string beside = besideFile(std::string(self, static_cast<std::size_t>(n)));
        if (access(beside.c_str(), R_OK) == 0) return beside;
    }
    // Installed, the module is beside this library. Found from here rather
    // than by the loader's search, which follows the RUNPATH of whoever calls
    // dlopen: under a sanitizer that is its interceptor's library, not ours.
    Dl_info where{};
    if (dladdr(&kThisLibrary, &where) != 0 && where.dli_fname != nullptr) {
        std::string beside = besideFile(where.dli_fname);
        if (access(beside.c_str(), R_OK) == 0) return beside;
    }
    return "libconfig_adm.so";
}
