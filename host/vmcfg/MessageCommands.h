#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <optional>

#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"
#include "properties/MessageProperties.h"

// The "message" command group of vmcfg: the property set of a stored message,
// whose file path the message store keeps in the message's attribute 269,
// read with make_properties (message/MessagePropertyUpdate.h).
//   message props MSGID   the set's properties with attributes and values
//   message check MSGID   validates the "ORVEX Proxy Reply To" property and
//                         resolves it as property_change would (nothing is
//                         written to the message)
// Exit status: 0 listed, or the property is valid and resolves (or absent);
// 1 no such message, no property file, a set that can't be read, an invalid
// or unresolved property; 2 bad usage. The caller must hold the run token.
class MessageCommands {
  public:
    explicit MessageCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

    // The meaning of a result of property_change.
    static String changeMeaning(int result);

  private:
    // Reads the message's set into set; false (with the reason on err) when
    // the message, its path or its file fails. path receives attribute 269.
    bool readSet(MessageProperties& set, String& path, std::ostream& err) const;
    int props(bool json, std::ostream& out, std::ostream& err) const;
    int check(bool json, std::ostream& out, std::ostream& err) const;

    CLI::App* group_;
    CLI::App* props_;
    CLI::App* check_;
    long msgid_ = 0;
};
