#include "host/vmcfg/PropsCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ostream>

#include "host/vmcfg/JsonText.h"
#include "host/vmcfg/PropertyFile.h"

namespace {

using Json = nlohmann::json;
using A = PropertyAttributes;

// The classes from most to least privileged: what one may do, all before it may.
const std::pair<const char*, A::AccessType> kChain[] = {
    {"Server", A::Server},     {"Privileged", A::Privileged}, {"Trusted", A::Trusted},
    {"Standard", A::Standard}, {"Restricted", A::Restricted}, {"Minimal", A::Minimal}};

const char* kPutResults[] = {"PUT_OK", "PUT_NO_PERMISSION", "PUT_NO_ATTRIBUTE_PERMISSION",
                             "PUT_IS_SERVER_KNOWN"};
const char* kRemoveResults[] = {"REMOVE_OK", "REMOVE_NO_SUCH_PROPERTY", "REMOVE_NO_PERMISSION"};

// The least privileged class that passes the test, or "none".
template <class Test>
String weakest(Test test) {
    String found = "none";
    for (const auto& [name, access] : kChain)
        if (test(access)) found = name;
    return found;
}

// Bytes shown on a terminal: printable ASCII as is, the rest escaped.
String printable(const String& bytes, std::size_t limit) {
    String shown;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\')
            shown += "\\\\";
        else if (c == '\n')
            shown += "\\n";
        else if (c >= 0x20 && c < 0x7f)
            shown += static_cast<char>(c);
        else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    if (bytes.size() > limit) shown += "...";
    return shown;
}

Json describe(const Property& p) {
    return Json{{"name", p.name.text()},
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

void printText(const Property& p, std::ostream& out) {
    Json d = describe(p);
    out << p.name.text() << " " << p.index << "  read: " << d["read"].get<String>()
        << "  write: " << d["write"].get<String>() << "  version " << int(p.attributes.version())
        << "  type " << p.attributes.type() << (p.attributes.server_known() ? "  server_known" : "")
        << (p.attributes.forwardable() ? "  forwardable" : "") << "\n    value ("
        << p.value.length() << " bytes): " << printable(String(p.value), 200) << "\n";
}

bool parseAccess(const String& text, A::AccessType& access) {
    for (const auto& [name, a] : kChain)
        if (strcasecmp(name, text.c_str()) == 0) return (access = a), true;
    return false;
}

}  // namespace

PropsCommands::PropsCommands(CLI::App& app) {
    group_ = app.add_subcommand("props", "Read and edit a property-set file");
    group_->require_subcommand(1);
    auto common = [this](CLI::App* command) {
        command->add_option("file", file_, "Platform path of the property file")->required();
        command->add_option("--access", access_, "Access class acted for")->capture_default_str();
        command->fallthrough();
    };
    show_ = group_->add_subcommand("show", "List the properties the access class may see");
    common(show_);
    show_->add_option("--name", name_, "Only this name");
    check_ = group_->add_subcommand("check", "Read the whole file and report the first error");
    common(check_);
    put_ = group_->add_subcommand("put", "Add or change a property (index 0: a new instance)");
    common(put_);
    put_->add_option("name", name_, "Property name")->required();
    put_->add_option("value", value_, "Property value")->required();
    put_->add_option("--index", index_, "Instance number (0: next free)");
    put_->add_option("--read", readers_, "Least privileged class that may read")
        ->capture_default_str();
    put_->add_option("--write", writers_, "Least privileged class that may write")
        ->capture_default_str();
    put_->add_option("--version", version_, "Version byte")->check(CLI::Range(0, 255));
    put_->add_option("--type", type_, "Value type code")->check(CLI::Range(-128, 127));
    put_->add_flag("--forwardable", forwardable_, "Travels when the set is forwarded");
    put_->add_flag("--server-known", serverKnown_, "Marked as a known property of its kind");
    remove_ = group_->add_subcommand("remove", "Remove an instance, or every instance of a name");
    common(remove_);
    remove_->add_option("name", name_, "Property name")->required();
    remove_->add_option("--index", index_, "Instance number (0: all of the name)");
    group_->fallthrough();
}

bool PropsCommands::selected() const {
    return group_->parsed();
}

A::AccessType PropsCommands::access() const {
    A::AccessType a = A::Server;
    parseAccess(access_, a);
    return a;
}

int PropsCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    A::AccessType ignored;
    for (const String* text : {&access_, &readers_, &writers_})
        if (!parseAccess(*text, ignored)) {
            err << "vmcfg: unknown access class '" << *text
                << "' (Server, Privileged, Trusted, Standard, Restricted, Minimal)" << std::endl;
            return 2;
        }
    PropertyFile set{Path(file_)};
    errno = 0;
    if (!set.load(put_->parsed())) {
        Properties::PropertiesError error = set.getError();
        err << "vmcfg: can't read property file " << file_ << ": "
            << (error == Properties::CANT_OPEN ? String(std::strerror(errno))
                                               : Properties::error_name(error))
            << std::endl;
        return error == Properties::CANT_OPEN ? 2 : 1;
    }
    if (show_->parsed()) return show(set, options.json, out);
    if (put_->parsed()) return put(set, options.json, out, err);
    if (remove_->parsed()) return remove(set, options.json, out, err);
    if (options.json)
        out << jsonText({{"file", file_}, {"ok", true}, {"count", set.count()}});
    else
        out << file_ << ": " << set.count() << " properties, version " << set.getVersion() << "\n";
    return 0;
}

int PropsCommands::show(Properties& set, bool json, std::ostream& out) const {
    Json list = Json::array();
    Property p;
    if (!name_.empty()) p.name = Symbol(name_);
    for (int r; (r = set.get_next(p, access(), !name_.empty())) != Properties::NEXT_END;) {
        if (r == Properties::NEXT_NO_SUCH_PROPERTY) break;
        if (r != Properties::NEXT_OK) continue;  // hidden from this class
        if (json)
            list.push_back(describe(p));
        else
            printText(p, out);
    }
    if (json) out << jsonText(list);
    return 0;
}

bool PropsCommands::store(Properties& set, std::ostream& err) const {
    if (set.save()) return true;
    err << "vmcfg: can't write " << file_ << ": " << Properties::error_name(set.getError())
        << std::endl;
    return false;
}

int PropsCommands::put(Properties& set, bool json, std::ostream& out, std::ostream& err) const {
    Property p;
    p.name = Symbol(name_);
    p.index = index_;
    p.value.modify(value_, 0);
    A::AccessType readers = A::Server, writers = A::Server;
    parseAccess(readers_, readers);
    parseAccess(writers_, writers);
    p.attributes.set_readable(readers, true);
    p.attributes.set_writeable(writers, true);
    p.attributes.set_version(static_cast<unsigned char>(version_));
    p.attributes.set_type(type_);
    p.attributes.set_forwardable(forwardable_);
    p.attributes.set_server_known(serverKnown_);
    int result = set.put(p, access());
    if (result != Properties::PUT_OK) {
        err << "vmcfg: put refused: " << kPutResults[result] << std::endl;
        return 1;
    }
    if (!store(set, err)) return 1;
    if (json)
        out << jsonText(describe(p));
    else
        printText(p, out);
    return 0;
}

int PropsCommands::remove(Properties& set, bool json, std::ostream& out, std::ostream& err) const {
    Property p;
    p.name = Symbol(name_);
    p.index = index_;
    int result = set.remove(p, access());
    if (result != Properties::REMOVE_OK) {
        err << "vmcfg: remove refused: " << kRemoveResults[result] << std::endl;
        return 1;
    }
    if (!store(set, err)) return 1;
    if (json)
        out << jsonText({{"removed", name_}, {"count", set.count()}});
    else
        out << "removed " << name_ << "; " << set.count() << " properties left\n";
    return 0;
}
