#pragma once

// The platform root of one benchmark run: the directory $VM_ROOT names when
// set (left as it is), else a fresh temporary directory that goes away with
// the object. Destroy it after everything that holds files under it.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "host/platform/HostPlatform.h"

class ScratchRoot {
  public:
    ScratchRoot() {
        const char* given = std::getenv("VM_ROOT");
        if (given != nullptr && *given != '\0') {
            ok_ = true;
            return;
        }
        String dir = (std::filesystem::temp_directory_path() / "cfgadm-bench-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr) return;
        owned_ = dir;
        HostPlatform::setRoot(owned_);
        ok_ = true;
    }
    ~ScratchRoot() {
        if (owned_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(owned_, ignored);
    }
    ScratchRoot(const ScratchRoot&) = delete;
    ScratchRoot& operator=(const ScratchRoot&) = delete;

    bool ok() const { return ok_; }

  private:
    String owned_;
    bool ok_ = false;
};
