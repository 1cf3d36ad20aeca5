#pragma once

#include <optional>

#include "platform/String.h"

// The options of vmcfg that come before any command group and apply to all.
struct GlobalOptions {
    // Host directory under which platform paths live; unset: "/" (or $VM_ROOT).
    std::optional<String> root;
    // Machine-readable output (JSON on standard output).
    bool json = false;
    std::optional<int> box;
    std::optional<int> traceLevel;
};
