#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"

// "vmcfg sweep [--dry-run]": removes from "/vm/tmp" the hand-off and value
// files that processes killed mid-way left behind, as the owner daemon does
// every minute (HandoffSweep), for hosts where no box runs vmpropd (a timer
// or cron job runs it there). The output names each file removed, its size,
// its process and why; --dry-run names what would go and removes nothing.
// Exit status: 0 (a file that cannot be removed is traced and left). The
// caller holds the run token (the kinds are asked of the module).
class SweepCommand {
  public:
    explicit SweepCommand(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    CLI::App* command_;
    bool dryRun_ = false;
};
