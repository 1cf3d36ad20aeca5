#pragma once

#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>

#include "host/common/AccessRights.h"
#include "host/common/TerminalText.h"
#include "platform/String.h"
#include "properties/Property.h"

class Properties;

// How vmcfg shows bytes and properties to an administrator.

// The words for a refused put or remove (a Properties result code) by the
// class `access` on copy `index` of `name` (0: every copy).
String putRefusal(int result, PropertyAttributes::AccessType access, const String& name,
                  std::uint32_t index);
String removeRefusal(int result, PropertyAttributes::AccessType access, const String& name,
                     std::uint32_t index);

// A property as JSON: {"name","index","read","write","version","type",
// "server_known","forwardable","length","value"}; read and write name the
// least privileged class allowed ("none" when no class is); type is the
// type byte, 0 to 255. A name or value that is not UTF-8 also travels
// exactly as "name_hex" or "value_hex" (see putBytes).
nlohmann::json propertyJson(const Property& p);

// Calls visit(p) for each property of the set that `access` may read, in the
// set's order: every property, or the instances of `name` when it is not
// empty. Properties hidden from the class are skipped.
void forEachVisible(Properties& set, PropertyAttributes::AccessType access, const String& name,
                    const std::function<void(const Property&)>& visit);

// The same properties as a JSON array of propertyJson objects.
nlohmann::json visiblePropertiesJson(Properties& set, PropertyAttributes::AccessType access,
                                     const String& name = String());

// The attributes in words: "read: CLASS  write: CLASS  version N  type N"
// and the flags that are set.
String attributeWords(const PropertyAttributes& attributes);

// A property as two lines of text, the first after `indent`; values longer
// than 200 bytes are cut.
void printProperty(const Property& p, std::ostream& out, const char* indent = "");
