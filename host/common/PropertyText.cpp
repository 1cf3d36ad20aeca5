#include "host/common/PropertyText.h"

#include <strings.h>

#include <cstdio>
#include <ostream>
#include <utility>

#include "properties/Properties.h"

namespace {

using A = PropertyAttributes;

// The classes from most to least privileged: what one may do, all before it may.
const std::pair<const char*, A::AccessType> kChain[] = {
    {"Server", A::Server},     {"Privileged", A::Privileged}, {"Trusted", A::Trusted},
    {"Standard", A::Standard}, {"Restricted", A::Restricted}, {"Minimal", A::Minimal}};

// The least privileged class that passes the test, or "none".
template <class Test>
String weakest(Test test) {
    String found = "none";
    for (const auto& [name, access] : kChain)
        if (test(access)) found = name;
    return found;
}

}  // namespace

bool parseAccessClass(const String& text, A::AccessType& access) {
    for (const auto& [name, a] : kChain)
        if (strcasecmp(name, text.c_str()) == 0) return (access = a), true;
    return false;
}

nlohmann::json propertyJson(const Property& p) {
    return {{"name", p.name.text()},
            {"index", p.index},
            {"read", weakest([&](A::AccessType a) { return p.attributes.readable(a); })},
            {"write", weakest([&](A::AccessType a) { return p.attributes.writeable(a); })},
            {"version", p.attributes.version()},
            {"type", p.attributes.type()},
            {"server_known", p.attributes.server_known()},
            {"forwardable", p.attributes.forwardable()},
            {"length", p.value.length()},
            {"value", String(p.value)}};
}

void printProperty(const Property& p, std::ostream& out, const char* indent) {
    nlohmann::json d = propertyJson(p);
    out << indent << terminalText(p.name.text()) << " " << p.index
        << "  read: " << d["read"].get<String>() << "  write: " << d["write"].get<String>()
        << "  version " << int(p.attributes.version()) << "  type " << p.attributes.type()
        << (p.attributes.server_known() ? "  server_known" : "")
        << (p.attributes.forwardable() ? "  forwardable" : "") << "\n"
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
