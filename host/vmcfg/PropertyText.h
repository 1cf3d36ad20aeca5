#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>

#include "platform/String.h"
#include "properties/Property.h"

// How vmcfg shows bytes and properties to an administrator.

// Bytes shown on a terminal: printable ASCII as it is, a backslash doubled, a
// newline as \n, everything else as \xNN, so that a stored text cannot move
// the cursor; past `limit` bytes the rest is "...". JSON output carries the
// exact bytes instead.
String terminalText(const String& bytes, std::size_t limit = String::npos);

// The access class named (any case: Server ... Minimal); false for no class.
bool parseAccessClass(const String& text, PropertyAttributes::AccessType& access);

// A property as JSON: {"name","index","read","write","version","type",
// "server_known","forwardable","length","value"}; read and write name the
// least privileged class allowed ("none" when no class is).
nlohmann::json propertyJson(const Property& p);

// A property as two lines of text, the first after `indent`; values longer
// than 200 bytes are cut.
void printProperty(const Property& p, std::ostream& out, const char* indent = "");
