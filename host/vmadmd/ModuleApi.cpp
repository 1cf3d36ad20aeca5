#include "host/vmadmd/ModuleApi.h"

#include <ostream>

bool ModuleApi::load(const String& modulePath, std::ostream& err) {
    if (!session_.open(modulePath, err, "vmadmd")) return false;
    String error;
    if (library_.load(kApiLibraryName, session_.data(), error)) {
        auto entry =
            reinterpret_cast<const ApiLibraryCalls* (*)()>(library_.symbol(kApiLibraryEntry));
        calls_ = entry ? entry() : nullptr;
        if (calls_ == nullptr) error = String("no entry point ") + kApiLibraryEntry;
    }
    if (calls_ == nullptr)
        err << "vmadmd: can't load the console's module views " << library_.path() << ": " << error
            << std::endl;
    return calls_ != nullptr;
}
