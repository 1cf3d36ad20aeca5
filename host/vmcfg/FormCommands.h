#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

// The raw form commands of vmcfg, on the module loaded as the server loads it
// (FormSession):
//   form NUMBER OP [FIELD...] [-f N=TEXT]...   one request, its answer
//   shell                                      requests from standard input,
//                                              one a line, the module kept loaded
// OP is get, chg, add, addv, rem, list or valid. Positional fields fill fields
// 0, 1, 2, ...; -f N=TEXT sets field N (after the positional ones); "--"
// ends the options, so fields may start with "-". --module PATH names the
// library (default: libconfig_adm.so beside vmcfg).
// Exit status of form: 0 result 0, 1 result 1023, 3 result 1037 (confirmation
// asked), 2 usage error (also: no such form), 4 the module can't be loaded or
// answered another result. Exit status of shell: 0 when every line was a
// usable request (whatever the answers), 2 when a line was not, 4 when the
// module can't be loaded. The caller must hold the run token while run() runs.
class FormCommands {
  public:
    explicit FormCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

  private:
    int runForm(bool json, std::ostream& out, std::ostream& err);
    int runShell(bool json, std::istream& in, std::ostream& out, std::ostream& err);

    CLI::App* form_;
    CLI::App* shell_;
    String module_;
};
