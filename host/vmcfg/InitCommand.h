#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"

// The "init" command of vmcfg: makes the platform directories under the
// platform root ("/VM/config", "/VM/orvex/sd/sdata", "/vm/tmp", "/vm/log",
// "/vm/run") and, with --demo, the sample contents of DemoContent. Only what
// is missing is made, so a second run changes nothing; the output names what
// was made; --dry-run lists what would be made and makes nothing. Exit status: 0 done, 1 something
// could not be made. The caller must hold the run token while run() runs.
class InitCommand {
  public:
    // Registers the command on app; options are bound to this object.
    explicit InitCommand(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    CLI::App* command_;
    bool demo_ = false;
    bool dryRun_ = false;
};
