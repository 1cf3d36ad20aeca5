#pragma once

#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>

#include "host/common/TerminalText.h"
#include "platform/String.h"
#include "properties/Property.h"

class Properties;

// How vmcfg shows bytes and properties to an administrator.

// The access class named (any case: Server ... Minimal); false for no class.
bool parseAccessClass(const String& text, PropertyAttributes::AccessType& access);

// A property as JSON: {"name","index","read","write","version","type",
// "server_known","forwardable","length","value"}; read and write name the
// least privileged class allowed ("none" when no class is).
nlohmann::json propertyJson(const Property& p);

// Calls visit(p) for each property of the set that `access` may read, in the
// set's order: every property, or the instances of `name` when it is not
// empty. Properties hidden from the class are skipped.
void forEachVisible(Properties& set, PropertyAttributes::AccessType access, const String& name,
                    const std::function<void(const Property&)>& visit);

// The same properties as a JSON array of propertyJson objects.
nlohmann::json visiblePropertiesJson(Properties& set, PropertyAttributes::AccessType access,
                                     const String& name = String());

// A property as two lines of text, the first after `indent`; values longer
// than 200 bytes are cut.
void printProperty(const Property& p, std::ostream& out, const char* indent = "");
