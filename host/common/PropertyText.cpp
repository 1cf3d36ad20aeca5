#include "host/common/PropertyText.h"

#include <ostream>

#include "host/common/JsonText.h"
#include "properties/Properties.h"

namespace {

using A = PropertyAttributes;

// The least privileged class that passes the test, or "none".
template <class Test>
String weakest(Test test) {
    String found = "none";
    for (int i = 0; i < 6; ++i)
        if (test(chainClass(i))) found = accessClassName(chainClass(i));
    return found;
}

String copyWords(const String& name, std::uint32_t index) {
    String shown = "'" + terminalText(name) + "'";
    return index == 0 ? shown : "copy " + std::to_string(index) + " of " + shown;
}

}  // namespace

String putRefusal(int result, A::AccessType access, const String& name, std::uint32_t index) {
    String who = String("class ") + accessClassName(access);
    switch (result) {
        case Properties::PUT_NO_PERMISSION:
            return who + " lacks the write right on " + copyWords(name, index);
        case Properties::PUT_NO_ATTRIBUTE_PERMISSION:
            return who + " may not mark " + copyWords(name, 0) +
                   " server-known: the kind does not know it";
        case Properties::PUT_IS_SERVER_KNOWN:
            return copyWords(name, 0) + " is a known property of the kind: " + who +
                   " may add it only marked --server-known";
    }
    return "put refused (result " + std::to_string(result) + ")";
}

String removeRefusal(int result, A::AccessType access, const String& name, std::uint32_t index) {
    switch (result) {
        case Properties::REMOVE_NO_SUCH_PROPERTY:
            return "there is no " + copyWords(name, index);
        case Properties::REMOVE_NO_PERMISSION:
            return String("class ") + accessClassName(access) + " lacks the write right on " +
                   (name.empty() ? String("some property") : copyWords(name, index)) +
                   " (or the kind's fixed table holds it)";
    }
    return "remove refused (result " + std::to_string(result) + ")";
}

nlohmann::json propertyJson(const Property& p) {
    nlohmann::json object = {
        {"index", p.index},
        {"read", weakest([&](A::AccessType a) { return p.attributes.readable(a); })},
        {"write", weakest([&](A::AccessType a) { return p.attributes.writeable(a); })},
        {"version", p.attributes.version()},
        {"type", p.attributes.type() & 0xff},
        {"server_known", p.attributes.server_known()},
        {"forwardable", p.attributes.forwardable()},
        {"length", p.value.length()}};
    putBytes(object, "name", p.name.text());
    putBytes(object, "value", String(p.value));
    return object;
}

String attributeWords(const PropertyAttributes& a) {
    Property p;
    p.attributes = a;
    nlohmann::json d = propertyJson(p);
    return "read: " + d["read"].get<String>() + "  write: " + d["write"].get<String>() +
           "  version " + std::to_string(int(a.version())) + "  type " +
           std::to_string(a.type() & 0xff) + (a.server_known() ? "  server_known" : "") +
           (a.forwardable() ? "  forwardable" : "");
}

void printProperty(const Property& p, std::ostream& out, const char* indent) {
    out << indent << terminalText(p.name.text()) << " " << p.index << "  "
        << attributeWords(p.attributes) << "\n"
        << indent << "    value (" << p.value.length()
        << " bytes): " << terminalText(String(p.value), 200) << "\n";
}

void forEachVisible(Properties& set, A::AccessType access, const String& name,
                    const std::function<void(const Property&)>& visit) {
    Property p;
    if (!name.empty()) p.name = Symbol(name);
    for (int r; (r = set.get_next(p, access, !name.empty())) != Properties::NEXT_END;) {
        if (r == Properties::NEXT_NO_SUCH_PROPERTY) break;
        if (r == Properties::NEXT_OK) visit(p);
    }
}

nlohmann::json visiblePropertiesJson(Properties& set, A::AccessType access, const String& name) {
    nlohmann::json list = nlohmann::json::array();
    forEachVisible(set, access, name, [&](const Property& p) { list.push_back(propertyJson(p)); });
    return list;
}
