#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <vector>

#include "host/common/KnownListing.h"
#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

class FormSession;

// The "known" command group of vmcfg: the known properties of the four kinds
// (the sets built from each kind's defaults file), read and edited only
// through the module's property forms, form 1 (listing) and form 2 (one
// property), on the module loaded as the server loads it.
//   known list KIND              every known property (pages through form 1)
//   known get KIND NAME          one property
//   known check KIND NAME        whether the name is free (exit 1 when taken)
//   known add KIND NAME [ATTRIBUTES]     a new property (refused when the name is taken)
//   known change KIND NAME [ATTRIBUTES]  changes only the attributes named
//   known remove KIND NAME       removes the property (alias: rm)
// add, change and remove take --dry-run: the checks run, the change is shown,
// nothing is written.
// KIND: MESSAGE, SYSTEM, COS or SUBSCRIBER, in any case. ATTRIBUTES: --read
// CLASSES, --write CLASSES (a class, a comma list of classes, all or none, as
// AccessRights reads them), --forwardable (--no-forwardable), --version N,
// --type N (0 to 255).
// add defaults to --read server --write server --version 1 --type 0. The forms
// carry no values: add and change store the property with an empty value.
// Output: a table (name, R/W of the six classes from the widest, forwardable,
// version, type), or with --json arrays of objects. A failure prints the
// administrator's text for the form's ecode on standard error (with --json
// also an object {"error","exit","form","op","ecode","field_no"} on standard
// output).
// Exit status: 0 success, 1 refused by the form (check: name taken), 2 usage,
// 4 the module can't be loaded. The caller must hold the run token.
class KnownCommands {
  public:
    explicit KnownCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

    // One known property as the forms show it.
    using Known = KnownListing::Known;

  private:
    CLI::App* addCommand(const char* name, const char* description, bool takesName,
                         bool attributes);
    bool usable(std::ostream& err);
    int list(FormSession& session, bool json, std::ostream& out, std::ostream& err);
    int get(FormSession& session, bool json, std::ostream& out, std::ostream& err);
    int check(FormSession& session, bool json, std::ostream& out, std::ostream& err);
    int write(FormSession& session, bool adding, bool json, std::ostream& out, std::ostream& err);
    int remove(FormSession& session, bool json, std::ostream& out, std::ostream& err);
    // What --dry-run prints instead of the change.
    int dryRun(const char* action, const Known& known, bool json, std::ostream& out) const;
    // Applies the attribute options to a property.
    void applyOptions(Known& known) const;

    CLI::App* group_;
    CLI::App* list_;
    CLI::App* get_;
    CLI::App* check_;
    CLI::App* add_;
    CLI::App* change_;
    CLI::App* rm_;
    String kind_;
    String name_;
    String module_;
    String read_;
    String write_;
    String version_;
    String type_;
    std::vector<CLI::Option*> readOptions_, writeOptions_, versionOptions_, typeOptions_,
        forwardOptions_, noForwardOptions_;
    bool readGiven_[6] = {};
    bool writeGiven_[6] = {};
    bool dryRun_ = false;
};
