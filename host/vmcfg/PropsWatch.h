#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <vector>

#include "host/common/PropsTarget.h"
#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

// "vmcfg props watch TARGET [--access CLASS]": prints each change to the set
// as the change journal records it, one line (with --json one JSON row) per
// property change, flushed at once, until SIGINT or SIGTERM. Only changes
// recorded after it started are printed. It sleeps on the journal between
// changes (no polling of its own beyond a wake-up a few times a second to
// look at the signals). Values the class may not read show as "(hidden)".
// Exit status: 0 stopped by a signal; 1 the journal cannot be read; 2 bad
// usage. The caller holds the run token.
class PropsWatch {
  public:
    // Adds the command to the props group; options are bound to this object.
    explicit PropsWatch(CLI::App* group);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    PropsTarget target_;
    CLI::App* watch_;
    std::vector<String> words_;
    String access_ = "Server";
};
