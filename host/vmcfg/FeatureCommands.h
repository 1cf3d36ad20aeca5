#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

class FormSession;

// The "features" command group of vmcfg: the platform's optional features,
// read and switched only through the module's feature form (form 3), on the
// module loaded as the server loads it.
//   features                        every row: number, question, setting; a row
//                                   that a configuration parameter decides is
//                                   shown as such (--json: an array)
//   features set ROW|NAME on|off [--yes]
//                                   the whole exchange of the form: a get, the
//                                   change that asks for confirmation, the
//                                   question to the administrator (unless
//                                   --yes), the confirmed change
// NAME matches a feature's short name or its question, in any case.
// Exit status: 0 done (or nothing to change), 1 refused, failed or not
// confirmed, 2 usage, 4 the module can't be loaded. The caller holds the run
// token; the confirmed change gives it up while the feature command runs.
class FeatureCommands {
  public:
    explicit FeatureCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

  private:
    int list(FormSession& session, bool json, std::ostream& out, std::ostream& err);
    int set(FormSession& session, bool json, std::istream& in, std::ostream& out,
            std::ostream& err);

    CLI::App* group_;
    CLI::App* set_;
    String module_;
    String feature_;
    String state_;
    bool yes_ = false;
    bool dryRun_ = false;
};
