#pragma once

#include <iosfwd>

#include "host/common/FormSession.h"
#include "host/common/ModuleLibrary.h"
#include "host/vmadmd/ApiLibrary.h"

// The module the console serves and the calls of libvmadmd_api.so bound to
// it. vmadmd links nothing of the module, so that the module it serves is
// always the one it names: the forms go through the session, the views that
// call the module's functions through the library, loaded after the module
// (ModuleLibrary). The library is closed before the session unloads the
// module; the caller holds the run token while the object loads and goes.
class ModuleApi {
  public:
    // Loads the module (path empty: AdmModule::defaultPath()), then the
    // library; false with the reason on err ("vmadmd: can't load ...").
    bool load(const String& modulePath, std::ostream& err);

    FormSession& session() { return session_; }
    // The library's calls (load() first).
    const ApiLibraryCalls& calls() const { return *calls_; }

  private:
    FormSession session_;  // first member: unloaded after the library is closed
    ModuleLibrary library_;
    const ApiLibraryCalls* calls_ = nullptr;
};
