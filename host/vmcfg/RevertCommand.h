#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

// "vmcfg revert SEQ [--yes] [--force] [--dry-run] [--access CLASS]": undoes
// one change-journal record (JournalRevert). It first shows what it would
// do, then asks on a terminal unless --yes; with standard input not a
// terminal it refuses without --yes, so a script never reverts by accident.
// --force reverts copies changed since the record all the same. Exit status:
// 0 reverted (or, with --dry-run, revertable); 1 refused, not confirmed or
// not saved; 2 bad usage, no such record or nothing the class may revert.
// The caller holds the run token.
class RevertCommand {
  public:
    explicit RevertCommand(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

  private:
    // 0 when confirmed, else the exit status having said why not.
    int confirmation(std::istream& in, std::ostream& out, std::ostream& err) const;

    CLI::App* command_;
    String seq_;
    String access_ = "Server";
    bool yes_ = false;
    bool force_ = false;
    bool dryRun_ = false;
};
