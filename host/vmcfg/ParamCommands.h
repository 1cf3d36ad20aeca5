#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"
#include "platform/Path.h"
#include "platform/String.h"

class VantorConfigurationInfo;

// The "param" command group of vmcfg: reads the configuration-parameter file
// (by default "/VM/config/config_params" under the platform root) through the
// module's reader and shows what it yields.
//   param get KEY        the value and the precedence type that supplied it
//   param explain KEY    every precedence type, whether it holds KEY, the winner
//   param check          parses (--debug N for the parser's own tracing)
//   param types          the precedence types in slot order with their values
//   param list           every key any type holds, with its winning value and type
// Each takes --file PATH (a platform path), which must be a readable regular
// file, and --no-commands, which reads $(...) terms as empty without running
// their commands (by default they run, as the file's format says). -o value:
// get prints the value's bytes only. Exit status, the same for every command: 2 bad usage
// (including a negative --debug) or a file that is missing, unreadable or not regular; 1 key not
// found (get, explain) or the parse failed (what the reader stored is still shown); 0 otherwise.
// The reader's own diagnostics go to standard error (check and list read the file afresh and
// write them once the parse is done; check --json also lists them, each with its line). Human
// output writes names and values with control characters and bytes that are not UTF-8 as \xNN (JSON
// output escapes as JSON does). The caller must hold the run token while run() runs.
class ParamCommands {
  public:
    // Registers the group and its commands on app; options are bound to this
    // object, which must outlive the parse.
    explicit ParamCommands(CLI::App& app);

    // Whether the command line chose this group.
    bool selected() const;
    // Runs the chosen command; returns the exit status.
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    int get(const VantorConfigurationInfo& info, const GlobalOptions& options, std::ostream& out,
            std::ostream& err) const;
    int explain(const VantorConfigurationInfo& info, bool json, std::ostream& out) const;
    int check(bool json, std::ostream& out, std::ostream& err) const;
    int list(bool json, std::ostream& out, std::ostream& err) const;
    void types(const VantorConfigurationInfo& info, bool json, std::ostream& out) const;
    // Whether the file is a regular file that can be opened for reading; says
    // why not on err.
    bool readable(std::ostream& err) const;

    CLI::App* group_;
    CLI::App* get_;
    CLI::App* explain_;
    CLI::App* check_;
    CLI::App* types_;
    CLI::App* list_;
    String key_;
    String file_;
    unsigned long debugLevel_ = 0;
    bool noCommands_ = false;
};
