#include "host/vmcfg/PropsCommands.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "host/common/JsonText.h"
#include "host/common/PropertyText.h"
#include "host/vmcfg/EditCycle.h"
#include "properties/Properties.h"

namespace {

using A = PropertyAttributes;

const char* kPutResults[] = {"PUT_OK", "PUT_NO_PERMISSION", "PUT_NO_ATTRIBUTE_PERMISSION",
                             "PUT_IS_SERVER_KNOWN"};
const char* kRemoveResults[] = {"REMOVE_OK", "REMOVE_NO_SUCH_PROPERTY", "REMOVE_NO_PERMISSION"};

}  // namespace

PropsCommands::PropsCommands(CLI::App& app) {
    group_ = app.add_subcommand("props", "Read and edit a property set");
    group_->require_subcommand(1);
    show_ = addCommand("show", "List the properties the access class may see", "[FILE]");
    show_->add_option("--name", name_, "Only this name");
    check_ = addCommand("check", "Read the whole set and report the first error", "[FILE]");
    put_ = addCommand("put", "Add or change a property (index 0: a new instance)",
                      "[FILE] NAME VALUE");
    put_->add_option("--index", index_, "Instance number (0: next free)");
    attributeOptions_ = {
        put_->add_option("--read", readers_, "Least privileged class that may read")
            ->capture_default_str(),
        put_->add_option("--write", writers_, "Least privileged class that may write")
            ->capture_default_str(),
        put_->add_option("--version", version_, "Version byte")->check(CLI::Range(0, 255)),
        put_->add_option("--type", type_, "Value type code")->check(CLI::Range(-128, 127)),
        put_->add_flag("--forwardable", forwardable_, "Travels when the set is forwarded"),
        put_->add_flag("--server-known", serverKnown_, "Marked as a known property of its kind")};
    remove_ =
        addCommand("remove", "Remove an instance, every instance of a name, or all", "[FILE] NAME");
    remove_->add_option("--index", index_, "Instance number (0: all of the name)");
    remove_->add_flag("--all", all_, "Remove every property of the set (no NAME)");
    group_->fallthrough();
}

CLI::App* PropsCommands::addCommand(const char* name, const char* description, const char* words) {
    CLI::App* command = group_->add_subcommand(name, description);
    command->add_option("words", words_, words);
    target_.addOptions(command);
    command->add_option("--access", access_, "Access class acted for")->capture_default_str();
    command->fallthrough();
    return command;
}

bool PropsCommands::selected() const {
    return group_->parsed();
}

A::AccessType PropsCommands::access() const {
    A::AccessType a = A::Server;
    parseAccessClass(access_, a);
    return a;
}

bool PropsCommands::usable(std::ostream& err) {
    A::AccessType ignored;
    for (const String* text : {&access_, &readers_, &writers_})
        if (!parseAccessClass(*text, ignored)) {
            err << "vmcfg: unknown access class '" << *text
                << "' (Server, Privileged, Trusted, Standard, Restricted, Minimal)" << std::endl;
            return false;
        }
    bool removeAll = remove_->parsed() && all_;
    std::size_t own = put_->parsed() ? 2 : remove_->parsed() && !all_ ? 1 : 0;
    if (!target_.choose(words_, own, err)) return false;
    if (words_.size() != own) {
        err << "vmcfg: props "
            << (put_->parsed()      ? "put takes NAME VALUE"
                : removeAll         ? "remove --all takes no NAME"
                : remove_->parsed() ? "remove takes NAME (or --all)"
                                    : "show and check take no NAME")
            << " after the set" << std::endl;
        return false;
    }
    if (own > 0) name_ = words_[0];
    if (own > 1) value_ = words_[1];
    if (own > 0 && name_.empty()) {
        err << "vmcfg: the property name is empty (remove --all removes every property)"
            << std::endl;
        return false;
    }
    if (removeAll && index_ != 0) {
        err << "vmcfg: remove --all takes no --index" << std::endl;
        return false;
    }
    return true;
}

int PropsCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (!usable(err)) return 2;
    if (put_->parsed()) return put(options.json, out, err);
    if (remove_->parsed()) return remove(options.json, out, err);
    return show(options.json, out, err);
}

int PropsCommands::show(bool json, std::ostream& out, std::ostream& err) {
    int status = 0;
    std::unique_ptr<Properties> set = target_.open(false, err, status);
    if (!set) return status;
    if (check_->parsed()) {
        if (json)
            out << jsonText(
                {{"target", target_.describe()}, {"ok", true}, {"count", set->count()}});
        else
            out << target_.describe() << ": " << set->count() << " properties, version "
                << set->getVersion() << "\n";
        return 0;
    }
    if (json)
        out << jsonText(visiblePropertiesJson(*set, access(), name_));
    else
        forEachVisible(*set, access(), name_, [&](const Property& p) { printProperty(p, out); });
    return 0;
}

bool PropsCommands::attributesGiven() const {
    for (const CLI::Option* option : attributeOptions_)
        if (option->count() > 0) return true;
    return false;
}

Property PropsCommands::newProperty(Properties& set) const {
    Property p;
    p.name = Symbol(name_);
    p.index = index_;
    p.value.modify(value_, 0);
    // What the kind says about a known name is what the platform's own
    // processes give it; explicit options override it.
    std::optional<PropertyAttributes> known;
    if (!attributesGiven() && (known = PropsTarget::knownAttributes(set, p.name))) {
        p.attributes = *known;
        return p;
    }
    A::AccessType readers = A::Server, writers = A::Server;
    parseAccessClass(readers_, readers);
    parseAccessClass(writers_, writers);
    p.attributes.set_readable(readers, true);
    p.attributes.set_writeable(writers, true);
    p.attributes.set_version(static_cast<unsigned char>(version_));
    p.attributes.set_type(type_);
    p.attributes.set_forwardable(forwardable_);
    p.attributes.set_server_known(serverKnown_);
    return p;
}

int PropsCommands::put(bool json, std::ostream& out, std::ostream& err) {
    Property stored;
    int status = EditCycle(target_, true)
                     .run(
                         [&](Properties& set) {
                             Property p = newProperty(set);
                             int result = set.put(p, access());
                             if (result != Properties::PUT_OK) {
                                 err << "vmcfg: put refused: " << kPutResults[result] << std::endl;
                                 return 1;
                             }
                             stored = p;
                             return 0;
                         },
                         err);
    if (status != 0) return status;
    if (json)
        out << jsonText(propertyJson(stored));
    else
        printProperty(stored, out);
    return 0;
}

int PropsCommands::remove(bool json, std::ostream& out, std::ostream& err) {
    std::size_t removed = 0, left = 0;
    int status = EditCycle(target_, false)
                     .run(
                         [&](Properties& set) {
                             Property p;
                             if (!all_) p.name = Symbol(name_);
                             p.index = index_;
                             std::size_t before = set.count();
                             int result = set.remove(p, access());
                             if (result != Properties::REMOVE_OK) {
                                 err << "vmcfg: remove refused: " << kRemoveResults[result]
                                     << std::endl;
                                 return 1;
                             }
                             left = set.count();
                             removed = before - left;
                             return 0;
                         },
                         err);
    if (status != 0) return status;
    String what = all_ ? String("all properties") : name_;
    if (json)
        out << jsonText({{"removed", what}, {"instances", removed}, {"count", left}});
    else
        out << "removed " << terminalText(what) << " (" << removed << " instances) from "
            << terminalText(target_.describe()) << "; " << left << " properties left\n";
    return 0;
}
