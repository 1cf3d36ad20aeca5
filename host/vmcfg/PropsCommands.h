#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <vector>

#include "host/common/PropsEdit.h"
#include "host/common/PropsTarget.h"
#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"
#include "properties/Property.h"

class Properties;

// The "props" command group of vmcfg: reads and edits one property set,
// named as PropsTarget describes (FILE, --system, --message PATH, --cos N,
// --subscriber N), through the module's access control as the chosen class
// and the kind's known properties.
//   props show TARGET [--name N [--index I]]  the properties the class may see
//   props check TARGET                 read the whole set; report the first error
//   props set TARGET NAME VALUE        the value of copy --index (1) of NAME
//   props add TARGET NAME VALUE        a new copy of NAME (the next index)
//   props put TARGET NAME VALUE        copy --index, 0 (default) adding one
//   props reset TARGET NAME            NAME back to the kind's default copies
//   props remove TARGET NAME | --all   a copy (--index), every copy, or all
// (PropsEdit says what each change does.) Every command that writes says
// what it did, and with --dry-run what it would do, saving nothing. --hex:
// NAME and VALUE (and show's --name) are hexadecimal bytes. Rights options
// take a class, a comma list of classes, all or none, in any case; --type is
// 0 to 255. A refusal names the class and the right it lacks. Writes save
// through the set's own save path (EditCycle), so a set of a kind owned by
// another box is handed to that box. --access CLASS (default Server).
// Output: text, JSON (-o json), or with -o value for show --name the value's
// bytes only. Exit status: 0 success; 1 refused, no such copy, bad set or
// not saved; 2 bad usage or an unreadable file. The caller must hold the run
// token while run() runs.
class PropsCommands {
  public:
    // Registers the group on app; options are bound to this object, which must
    // outlive the parse.
    explicit PropsCommands(CLI::App& app);

    bool selected() const;
    // The "props" group, for commands registered beside these.
    CLI::App* group() const { return group_; }
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    CLI::App* addCommand(const char* name, const char* description, const char* words);
    void addWriteOptions(CLI::App* command, std::uint32_t defaultIndex);
    // Checks the command line past the parse; says what is wrong on err.
    bool usable(const GlobalOptions& options, std::ostream& err);
    bool wordsUsable(std::ostream& err);
    bool rightsUsable(std::ostream& err);
    int show(const GlobalOptions& options, std::ostream& out, std::ostream& err);
    int showValue(Properties& set, std::ostream& out, std::ostream& err);
    // Why show printed nothing: the set is empty, or holds nothing by the
    // name, copy and class asked.
    String nothingShown(const Properties& set) const;
    int edit(const GlobalOptions& options, std::ostream& out, std::ostream& err);
    void report(const PropsEdit::Outcome& outcome, bool json, std::ostream& out) const;
    PropsEdit::Request request() const;
    bool attributesGiven() const;
    PropertyAttributes::AccessType access() const;

    PropsTarget target_;
    CLI::App* group_;
    CLI::App* show_;
    CLI::App* check_;
    CLI::App* set_;
    CLI::App* add_;
    CLI::App* put_;
    CLI::App* reset_;
    CLI::App* remove_;
    std::vector<String> words_;
    std::vector<CLI::Option*> attributeOptions_;
    std::vector<CLI::Option*> indexOptions_;
    String name_;
    String value_;
    String access_ = "Server";
    String readers_ = "Server";
    String writers_ = "Server";
    bool readFlags_[6] = {};
    bool writeFlags_[6] = {};
    std::uint32_t index_ = 0;
    int version_ = 1;
    int type_ = 0;
    bool forwardable_ = false;
    bool serverKnown_ = false;
    bool all_ = false;
    bool hex_ = false;
    bool dryRun_ = false;
};
