#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <vector>

#include "host/common/PropsTarget.h"
#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"
#include "properties/Property.h"

class Properties;

// The "props" command group of vmcfg: reads and edits one property set,
// named as PropsTarget describes (FILE, --system, --message PATH, --cos N,
// --subscriber N), through the module's access control as the chosen class
// and the kind's known properties.
//   props show TARGET [--name N]       the properties the class may see
//   props check TARGET                 read the whole set; report the first error
//   props put TARGET NAME VALUE        add or change an instance
//   props remove TARGET NAME | --all   remove an instance (--index), a name, or all
// put and remove save through the set's own save path (EditCycle), so a set
// of a kind owned by another box is handed to that box. A put of a name the
// kind knows starts from the known attributes unless attribute options are
// given. --access CLASS (default Server) names the class acted for.
// Exit status: 0 success; 1 refused, bad set or not saved; 2 bad usage or an
// unreadable file. The caller must hold the run token while run() runs.
class PropsCommands {
  public:
    // Registers the group on app; options are bound to this object, which must
    // outlive the parse.
    explicit PropsCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    CLI::App* addCommand(const char* name, const char* description, const char* words);
    // Checks the command line past the parse; says what is wrong on err.
    bool usable(std::ostream& err);
    int show(bool json, std::ostream& out, std::ostream& err);
    int put(bool json, std::ostream& out, std::ostream& err);
    int remove(bool json, std::ostream& out, std::ostream& err);
    // The property the put options describe, for a set of the given kind.
    Property newProperty(Properties& set) const;
    bool attributesGiven() const;
    PropertyAttributes::AccessType access() const;

    PropsTarget target_;
    CLI::App* group_;
    CLI::App* show_;
    CLI::App* check_;
    CLI::App* put_;
    CLI::App* remove_;
    std::vector<String> words_;
    std::vector<CLI::Option*> attributeOptions_;
    String name_;
    String value_;
    String access_ = "Server";
    String readers_ = "Server";
    String writers_ = "Server";
    std::uint32_t index_ = 0;
    int version_ = 1;
    int type_ = 0;
    bool forwardable_ = false;
    bool serverKnown_ = false;
    bool all_ = false;
};
