#pragma once

#include <CLI/CLI.hpp>
#include <optional>

#include "platform/String.h"

// The options of vmcfg that come before any command group and apply to all.
struct GlobalOptions {
    // Host directory under which platform paths live; unset: see PlatformRoot.
    std::optional<String> root;
    // Machine-readable output (JSON on standard output).
    bool json = false;
    std::optional<int> box;
    std::optional<int> traceLevel;

    // Declares these options on vmcfg's command line (both vmcfg and its
    // commands library parse the same line).
    void addTo(CLI::App& app);
};
