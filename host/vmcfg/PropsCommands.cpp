#include "host/vmcfg/PropsCommands.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "host/common/EditCycle.h"
#include "host/common/JsonText.h"
#include "host/common/PropertyText.h"
#include "properties/Properties.h"

namespace {

using A = PropertyAttributes;

constexpr const char* kRightsHelp = "a class, a comma list of classes, all or none";

String copies(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " copy" : " copies");
}

String properties(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " property" : " properties");
}

}  // namespace

PropsCommands::PropsCommands(CLI::App& app) {
    group_ = app.add_subcommand("props", "Read and edit a property set");
    group_->require_subcommand(1);
    show_ = addCommand("show", "List the properties the access class may see", "[FILE]");
    show_->add_option("--name", name_, "Only this name");
    indexOptions_.push_back(show_->add_option("--index", index_, "Only this copy (with --name)"));
    check_ = addCommand("check", "Read the whole set and report the first error", "[FILE]");
    set_ = addCommand("set", "Set the value of a copy (keeping its rights; added if missing)",
                      "[FILE] NAME VALUE");
    addWriteOptions(set_, 1);
    add_ = addCommand("add", "Add a new copy of a property (the next free index)",
                      "[FILE] NAME VALUE");
    addWriteOptions(add_, 0);
    put_ = addCommand("put", "Low-level write: copy --index, 0 (default) adding a new one",
                      "[FILE] NAME VALUE");
    addWriteOptions(put_, 0);
    reset_ = addCommand("reset", "Put back the kind's default copies of NAME (defaults file)",
                        "[FILE] NAME");
    reset_->add_flag("--dry-run", dryRun_, "Show what would change; write nothing");
    remove_ = addCommand("remove", "Remove a copy, every copy of a name, or all", "[FILE] NAME");
    remove_->alias("rm");
    indexOptions_.push_back(
        remove_->add_option("--index", index_, "Copy number (0: every copy of the name)"));
    remove_->add_flag("--all", all_, "Remove every property of the set (no NAME)");
    remove_->add_flag("--dry-run", dryRun_, "Show what would change; write nothing");
    group_->fallthrough();
}

CLI::App* PropsCommands::addCommand(const char* name, const char* description, const char* words) {
    CLI::App* command = group_->add_subcommand(name, description);
    command->add_option("words", words_, words);
    target_.addOptions(command);
    command->add_option("--access", access_, "Access class acted for")->capture_default_str();
    command->add_flag("--hex", hex_, "NAME and VALUE (and --name) are given in hexadecimal");
    command->fallthrough();
    return command;
}

void PropsCommands::addWriteOptions(CLI::App* command, std::uint32_t defaultIndex) {
    if (defaultIndex != 0 || command == put_)
        indexOptions_.push_back(command->add_option(
            "--index", index_,
            defaultIndex ? "Copy number (default 1)" : "Copy number (0: a new copy)"));
    for (CLI::Option* option :
         {command->add_option("--read", readers_, String("Classes that may read: ") + kRightsHelp),
          command->add_option("--write", writers_,
                              String("Classes that may write: ") + kRightsHelp),
          command->add_option("--version", version_, "Version byte, 0 to 255")
              ->check(CLI::Range(0, 255)),
          command->add_option("--type", type_, "Value type, 0 to 255")->check(CLI::Range(0, 255)),
          command->add_flag("--forwardable", forwardable_, "Travels when the set is forwarded"),
          command->add_flag("--server-known", serverKnown_,
                            "Marked as a known property of its kind")})
        attributeOptions_.push_back(option);
    command->add_flag("--dry-run", dryRun_, "Show what would change; write nothing");
}

bool PropsCommands::selected() const {
    return group_->parsed();
}

A::AccessType PropsCommands::access() const {
    A::AccessType a = A::Server;
    parseAccessClass(access_, a);
    return a;
}

bool PropsCommands::rightsUsable(std::ostream& err) {
    A::AccessType ignored;
    if (!parseAccessClass(access_, ignored)) {
        err << "vmcfg: --access: unknown access class '" << terminalText(access_)
            << "' (server, privileged, trusted, standard, restricted, minimal)" << std::endl;
        return false;
    }
    String bad;
    for (auto [text, flags, option] : {std::tuple{&readers_, &readFlags_, "--read"},
                                       std::tuple{&writers_, &writeFlags_, "--write"}})
        if (!parseRights(*text, *flags, bad)) {
            err << "vmcfg: " << option << ": unknown access class '" << terminalText(bad)
                << "' (server, privileged, trusted, standard, restricted, minimal, all, none)"
                << std::endl;
            return false;
        }
    return true;
}

bool PropsCommands::wordsUsable(std::ostream& err) {
    bool writes = set_->parsed() || add_->parsed() || put_->parsed();
    bool removeAll = remove_->parsed() && all_;
    std::size_t own = writes ? 2 : reset_->parsed() || (remove_->parsed() && !all_) ? 1 : 0;
    if (!target_.choose(words_, own, err)) return false;
    if (words_.size() != own) {
        err << "vmcfg: props "
            << (writes              ? "set, add and put take NAME VALUE"
                : reset_->parsed()  ? "reset takes NAME"
                : removeAll         ? "remove --all takes no NAME"
                : remove_->parsed() ? "remove takes NAME (or --all)"
                                    : "show and check take no NAME")
            << " after the set" << std::endl;
        return false;
    }
    if (own > 0) name_ = words_[0];
    if (own > 1) value_ = words_[1];
    for (String* word : {&name_, &value_})
        if (hex_ && !bytesOfHex(String(*word), *word)) {
            err << "vmcfg: --hex: '" << terminalText(*word)
                << "' is not pairs of hexadecimal digits" << std::endl;
            return false;
        }
    if (own > 0 && name_.empty()) {
        err << "vmcfg: the property name is empty (remove --all removes every property)"
            << std::endl;
        return false;
    }
    return true;
}

bool PropsCommands::usable(const GlobalOptions& options, std::ostream& err) {
    if (!rightsUsable(err) || !wordsUsable(err)) return false;
    bool indexGiven = false;
    for (const CLI::Option* option : indexOptions_) indexGiven |= option->count() > 0;
    if (!indexGiven && set_->parsed()) index_ = 1;
    if (remove_->parsed() && all_ && indexGiven) {
        err << "vmcfg: remove --all takes no --index" << std::endl;
        return false;
    }
    if (options.valueOnly() && !(show_->parsed() && !name_.empty())) {
        err << "vmcfg: -o value prints one value: props show --name NAME (and param get)"
            << std::endl;
        return false;
    }
    return true;
}

int PropsCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (!usable(options, err)) return 2;
    if (show_->parsed() || check_->parsed()) return show(options, out, err);
    return edit(options, out, err);
}

int PropsCommands::show(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    int status = 0;
    std::unique_ptr<Properties> set = target_.open(false, err, status);
    if (!set) return status;
    if (check_->parsed()) {
        if (options.json)
            out << jsonText(
                {{"target", target_.describe()}, {"ok", true}, {"count", set->count()}});
        else
            out << target_.describe() << ": " << properties(set->count()) << ", version "
                << set->getVersion() << "\n";
        return 0;
    }
    if (options.valueOnly()) return showValue(*set, out, err);
    nlohmann::json list = nlohmann::json::array();
    bool shown = false;
    forEachVisible(*set, access(), name_, [&](const Property& p) {
        if (index_ != 0 && p.index != index_) return;
        shown = true;
        if (options.json)
            list.push_back(propertyJson(p));
        else
            printProperty(p, out);
    });
    if (options.json) out << jsonText(list);
    // A mistyped record number or name must not look like an empty success.
    if (!shown && !options.json) err << "vmcfg: " << nothingShown(*set) << std::endl;
    return 0;
}

String PropsCommands::nothingShown(const Properties& set) const {
    String where = terminalText(target_.describe());
    if (set.count() == 0) return where + " holds no property";
    String what = name_.empty()
                      ? String("no property")
                      : "no " + (index_ ? "copy " + std::to_string(index_) + " of " : String()) +
                            "'" + terminalText(name_) + "'";
    return what + " that class " + accessClassName(access()) + " may read in " + where;
}

// The value's bytes and a newline, as `git config --get` prints one: the copy
// --index asks for, else the first copy the class may read.
int PropsCommands::showValue(Properties& set, std::ostream& out, std::ostream& err) {
    bool found = false;
    forEachVisible(set, access(), name_, [&](const Property& p) {
        if (found || (index_ != 0 && p.index != index_)) return;
        out << String(p.value) << "\n";
        found = true;
    });
    if (!found) err << "vmcfg: " << nothingShown(set) << std::endl;
    return found ? 0 : 1;
}

bool PropsCommands::attributesGiven() const {
    for (const CLI::Option* option : attributeOptions_)
        if (option->count() > 0) return true;
    return false;
}

PropsEdit::Request PropsCommands::request() const {
    PropsEdit::Request r;
    r.action = reset_->parsed()    ? PropsEdit::Action::Reset
               : remove_->parsed() ? PropsEdit::Action::Remove
                                   : PropsEdit::Action::Write;
    r.all = all_;
    r.access = access();
    r.attributesGiven = attributesGiven();
    Property& p = r.wanted;
    p.name = Symbol(name_);
    p.index = index_;
    p.value.modify(value_, 0);
    for (int i = 0; i < 6; ++i) {
        p.attributes.set_readable(chainClass(i), readFlags_[i]);
        p.attributes.set_writeable(chainClass(i), writeFlags_[i]);
    }
    p.attributes.set_version(static_cast<unsigned char>(version_));
    p.attributes.set_type(type_);
    p.attributes.set_forwardable(forwardable_);
    p.attributes.set_server_known(serverKnown_);
    return r;
}

int PropsCommands::edit(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    PropsEdit::Request wanted = request();
    PropsEdit::Outcome outcome;
    EditCycle cycle(target_, wanted.action == PropsEdit::Action::Write);
    cycle.setDryRun(dryRun_);
    int status = cycle.run(
        [&](Properties& set) {
            outcome = PropsEdit::Outcome();
            String refusal;
            if (PropsEdit::apply(set, wanted, outcome, refusal) == 0) return 0;
            err << "vmcfg: " << refusal << std::endl;
            return 1;
        },
        err);
    if (status == 0) report(outcome, options.json, out);
    return status;
}

void PropsCommands::report(const PropsEdit::Outcome& outcome, bool json, std::ostream& out) const {
    String what = all_ ? String("all properties") : name_;
    if (json) {
        nlohmann::json written = nlohmann::json::array();
        for (const Property& p : outcome.written) written.push_back(propertyJson(p));
        nlohmann::json reply = {{"action", outcome.verb},       {"dry_run", dryRun_},
                                {"target", target_.describe()}, {"written", written},
                                {"removed", outcome.removed},   {"count", outcome.left}};
        putBytes(reply, "name", what);
        out << jsonText(reply);
        return;
    }
    if (dryRun_) out << "dry run, nothing written: would have ";
    if (outcome.verb == "removed")
        out << "removed " << copies(outcome.removed) << " of " << terminalText(what);
    else if (outcome.verb == "reset")
        out << "reset '" << terminalText(what) << "' to the kind's default ("
            << copies(outcome.removed) << " removed, " << outcome.written.size() << " put back)";
    else
        out << outcome.verb << " copy " << outcome.written.front().index << " of '"
            << terminalText(what) << "'";
    out << " in " << terminalText(target_.describe()) << "; " << properties(outcome.left) << "\n";
    for (const Property& p : outcome.written) printProperty(p, out, "  ");
}
