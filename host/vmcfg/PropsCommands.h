#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"
#include "properties/PropertyAttributes.h"

class Properties;

// The "props" command group of vmcfg: reads and edits a file that holds a
// property set in its text stream (a property file or a defaults file), going
// through the module's access control as the chosen access class.
//   props show FILE [--name N]      the properties the class may see, in order
//   props check FILE                read the whole file; report the first error
//   props put FILE NAME VALUE       add or change an instance (file made if missing)
//   props remove FILE NAME          remove an instance (--index) or all of a name
// --access CLASS (default Server) names the class acted for. Exit status: 0
// success; 1 refused or the file is bad; 2 bad usage or an unreadable file.
// The caller must hold the run token while run() runs.
class PropsCommands {
  public:
    // Registers the group on app; options are bound to this object, which must
    // outlive the parse.
    explicit PropsCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    int show(Properties& set, bool json, std::ostream& out) const;
    int put(Properties& set, bool json, std::ostream& out, std::ostream& err) const;
    int remove(Properties& set, bool json, std::ostream& out, std::ostream& err) const;
    PropertyAttributes::AccessType access() const;
    // Saves the set; says why not on err.
    bool store(Properties& set, std::ostream& err) const;

    CLI::App* group_;
    CLI::App* show_;
    CLI::App* check_;
    CLI::App* put_;
    CLI::App* remove_;
    String file_;
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
};
