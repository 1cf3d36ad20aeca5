#include "host/vmcfg/KnownCommands.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "host/common/AccessRights.h"
#include "host/common/JsonText.h"
#include "host/common/TerminalText.h"
#include "host/vmcfg/RequestWords.h"

namespace {

using Json = nlohmann::json;
using Known = KnownCommands::Known;

constexpr int kListForm = 1;
constexpr int kPropertyForm = 2;
constexpr std::size_t kNameSplit = 70;

// The access classes from the widest to the narrowest, as the forms lay them
// out (read flag at the offset, write flag after it).
const char* const kShortClasses[6] = {"SRV", "PRV", "TRU", "STD", "RES", "MIN"};
constexpr int kFlagOffset = 3;

const char* const kKinds[] = {"MESSAGE", "SYSTEM", "COS", "SUBSCRIBER"};

String upper(String text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool given(const std::vector<CLI::Option*>& options) {
    for (const CLI::Option* option : options)
        if (option->count() > 0) return true;
    return false;
}

void nameFields(const String& kind, const String& name, FormSession::Request& request) {
    request.fields[0] = kind;
    request.fields[1] = name.substr(0, std::min(name.size(), kNameSplit));
    request.fields[2] = name.size() > kNameSplit ? name.substr(kNameSplit) : String();
}

// Request fields 0 to 17 of form 2's add and change.
FormSession::Request propertyRequest(AdmOp op, const String& kind, const Known& k) {
    FormSession::Request request;
    request.form = kPropertyForm;
    request.op = op;
    nameFields(kind, k.name, request);
    for (int i = 0; i < 6; ++i) {
        request.fields[kFlagOffset + 2 * i] = k.read[i] ? "R" : "-";
        request.fields[kFlagOffset + 2 * i + 1] = k.write[i] ? "W" : "-";
    }
    request.fields[15] = k.forwardable ? "y" : "n";
    request.fields[16] = k.version;
    request.fields[17] = k.type;
    return request;
}

void printTable(const std::vector<Known>& rows, bool json, std::ostream& out) {
    if (json) {
        Json array = Json::array();
        for (const Known& k : rows) array.push_back(KnownListing::toJson(k));
        out << jsonText(array);
        return;
    }
    std::size_t width = 4;
    for (const Known& k : rows) width = std::max(width, terminalText(k.name).size());
    auto pad = [](String text, std::size_t to) {
        if (text.size() < to) text.append(to - text.size(), ' ');
        return text;
    };
    out << pad("NAME", width);
    for (const char* c : kShortClasses) out << "  " << c;
    out << "  FWD  VER  TYPE\n";
    for (const Known& k : rows) {
        out << pad(terminalText(k.name), width);
        for (int i = 0; i < 6; ++i)
            out << "  " << (k.read[i] ? 'R' : '-') << (k.write[i] ? 'W' : '-') << ' ';
        out << "  " << (k.forwardable ? "y" : "n") << "  " << pad(k.version, 5) << k.type << "\n";
    }
}

const char* fieldLabel(int field) {
    if (field == 0) return "property set";
    if (field == 1 || field == 2) return "name";
    if (field >= 3 && field <= 14) return field % 2 == 1 ? "read flag" : "write flag";
    if (field == 15) return "forwardable";
    if (field == 16) return "version";
    if (field == 17) return "type";
    return "field";
}

// Reports a form's refusal; returns the exit status.
int refused(const String& what, int form, AdmOp op, const FormSession::Answer& answer, bool json,
            std::ostream& out, std::ostream& err) {
    const AdmAnswer& a = answer.outputs;
    String text = adm_ecode_text(form, a.ecode);
    if (a.field_no > 0)
        text = "field " + std::to_string(a.field_no) + " (" + fieldLabel(a.field_no) + "): " + text;
    err << "vmcfg: " << what << ": " << text << std::endl;
    int status = formExitStatus(a.result);
    status = status == 0 ? 1 : status;
    if (json)
        out << jsonText({{"error", text},
                         {"exit", status},
                         {"form", form},
                         {"op", adm_op_name(op)},
                         {"ecode", a.ecode},
                         {"field_no", a.field_no}});
    return status;
}

}  // namespace

KnownCommands::KnownCommands(CLI::App& app) {
    group_ = app.add_subcommand("known", "The known properties of a kind, through the forms");
    group_->require_subcommand(1);
    list_ = addCommand("list", "List every known property of KIND (form 1)", false, false);
    get_ = addCommand("get", "Show one known property (form 2 get)", true, false);
    check_ = addCommand("check", "Whether NAME is free in KIND (form 2 addv)", true, false);
    add_ = addCommand("add", "Add a known property (form 2 addv, add)", true, true);
    change_ = addCommand("change", "Change the attributes named (form 2 get, chg)", true, true);
    rm_ = addCommand("remove", "Remove a known property (form 2 rem)", true, false);
    rm_->alias("rm");
    for (CLI::App* command : {add_, change_, rm_})
        command->add_flag("--dry-run", dryRun_, "Check and show the change; write nothing");
}

CLI::App* KnownCommands::addCommand(const char* name, const char* description, bool takesName,
                                    bool attributes) {
    CLI::App* command = group_->add_subcommand(name, description);
    command->add_option("KIND", kind_, "MESSAGE, SYSTEM, COS or SUBSCRIBER (any case)")->required();
    if (takesName) command->add_option("NAME", name_, "The property's name")->required();
    command->add_option("--module", module_, "The module library (default: beside vmcfg)");
    if (attributes) {
        readOptions_.push_back(command->add_option(
            "--read", read_, "Classes that may read: a comma list, all or none"));
        writeOptions_.push_back(command->add_option(
            "--write", write_, "Classes that may write: a comma list, all or none"));
        forwardOptions_.push_back(
            command->add_flag("--forwardable")->description("Travels when a set is forwarded"));
        noForwardOptions_.push_back(command->add_flag("--no-forwardable")
                                        ->description("Does not travel when a set is forwarded"));
        versionOptions_.push_back(command->add_option("--version", version_, "0 to 255"));
        typeOptions_.push_back(command->add_option("--type", type_, "Value type, 0 to 255"));
    }
    command->fallthrough();
    return command;
}

bool KnownCommands::selected() const {
    return group_->parsed();
}

bool KnownCommands::usable(std::ostream& err) {
    String kind = upper(kind_);
    if (std::find(std::begin(kKinds), std::end(kKinds), kind) == std::end(kKinds)) {
        err << "vmcfg: unknown kind '" << kind_ << "' (MESSAGE, SYSTEM, COS or SUBSCRIBER)"
            << std::endl;
        return false;
    }
    kind_ = kind;
    String bad;
    if (given(readOptions_) && !parseRights(read_, readGiven_, bad)) {
        err << "vmcfg: --read: unknown class '" << bad
            << "' (server, privileged, trusted, standard, restricted, minimal, all, none)"
            << std::endl;
        return false;
    }
    if (given(writeOptions_) && !parseRights(write_, writeGiven_, bad)) {
        err << "vmcfg: --write: unknown class '" << bad
            << "' (server, privileged, trusted, standard, restricted, minimal, all, none)"
            << std::endl;
        return false;
    }
    if (given(forwardOptions_) && given(noForwardOptions_)) {
        err << "vmcfg: --forwardable and --no-forwardable contradict each other" << std::endl;
        return false;
    }
    return true;
}

int KnownCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (!usable(err)) return 2;
    FormSession session;
    if (!session.open(module_, err, "vmcfg", FormSession::Unload::atExit)) return 4;
    bool json = options.json;
    if (list_->parsed()) return list(session, json, out, err);
    if (get_->parsed()) return get(session, json, out, err);
    if (check_->parsed()) return check(session, json, out, err);
    if (add_->parsed()) return write(session, true, json, out, err);
    if (change_->parsed()) return write(session, false, json, out, err);
    return remove(session, json, out, err);
}

namespace {

// One request to a form the module must have.
std::optional<FormSession::Answer> ask(FormSession& session, const FormSession::Request& request,
                                       std::ostream& err) {
    std::optional<FormSession::Answer> answer = session.call(request);
    if (!answer) err << "vmcfg: the module has no form " << request.form << std::endl;
    return answer;
}

String shownName(const String& name) {
    return "'" + terminalText(name) + "'";
}

}  // namespace

int KnownCommands::list(FormSession& session, bool json, std::ostream& out, std::ostream& err) {
    std::vector<Known> rows;
    FormSession::Answer refusal;
    String stuckAt;
    switch (KnownListing::list(session, kind_, rows, refusal, stuckAt)) {
        case KnownListing::Outcome::NoForm:
            err << "vmcfg: the module has no form " << kListForm << std::endl;
            return 4;
        case KnownListing::Outcome::Refused:
            return refused("known list " + kind_, kListForm, AdmOp::list, refusal, json, out, err);
        case KnownListing::Outcome::Stuck:
            err << "vmcfg: known list " << kind_ << ": the listing does not advance past "
                << shownName(stuckAt) << std::endl;
            return 1;
        case KnownListing::Outcome::Listed:
            break;
    }
    if (!json && rows.empty()) {
        out << "no known properties in " << kind_ << "\n";
        return 0;
    }
    printTable(rows, json, out);
    return 0;
}

int KnownCommands::get(FormSession& session, bool json, std::ostream& out, std::ostream& err) {
    FormSession::Request request;
    request.form = kPropertyForm;
    request.op = AdmOp::get;
    nameFields(kind_, name_, request);
    auto answer = ask(session, request, err);
    if (!answer) return 4;
    if (answer->outputs.result != 0)
        return refused("known get " + kind_ + " " + shownName(name_), kPropertyForm, AdmOp::get,
                       *answer, json, out, err);
    printTable({KnownListing::fromReply(answer->fields, 0)}, json, out);
    return 0;
}

int KnownCommands::check(FormSession& session, bool json, std::ostream& out, std::ostream& err) {
    FormSession::Request request;
    request.form = kPropertyForm;
    request.op = AdmOp::addv;
    nameFields(kind_, name_, request);
    auto answer = ask(session, request, err);
    if (!answer) return 4;
    const AdmAnswer& a = answer->outputs;
    bool free = a.result == 0;
    if (!free && a.ecode != 3)
        return refused("known check " + kind_ + " " + shownName(name_), kPropertyForm, AdmOp::addv,
                       *answer, json, out, err);
    if (json)
        out << jsonText({{"kind", kind_}, {"name", name_}, {"free", free}});
    else if (free)
        out << shownName(name_) << " is free in " << kind_ << "\n";
    if (!free)
        err << "vmcfg: known check " << kind_ << " " << shownName(name_) << ": "
            << adm_ecode_text(kPropertyForm, a.ecode) << std::endl;
    return free ? 0 : 1;
}

void KnownCommands::applyOptions(Known& known) const {
    if (given(readOptions_)) std::copy(std::begin(readGiven_), std::end(readGiven_), known.read);
    if (given(writeOptions_))
        std::copy(std::begin(writeGiven_), std::end(writeGiven_), known.write);
    if (given(forwardOptions_)) known.forwardable = true;
    if (given(noForwardOptions_)) known.forwardable = false;
    if (given(versionOptions_)) known.version = version_;
    if (given(typeOptions_)) known.type = type_;
}

int KnownCommands::write(FormSession& session, bool adding, bool json, std::ostream& out,
                         std::ostream& err) {
    String what = String("known ") + (adding ? "add " : "change ") + kind_ + " " + shownName(name_);
    Known known;
    FormSession::Request first;
    first.form = kPropertyForm;
    nameFields(kind_, name_, first);
    if (adding) {
        // The form's add replaces a property of that name whole: check first.
        first.op = AdmOp::addv;
        auto answer = ask(session, first, err);
        if (!answer) return 4;
        if (answer->outputs.result != 0)
            return refused(what, kPropertyForm, AdmOp::addv, *answer, json, out, err);
        known.name = name_;
        known.read[0] = known.write[0] = true;  // server
    } else {
        // The form's change replaces the whole property: start from it.
        first.op = AdmOp::get;
        auto answer = ask(session, first, err);
        if (!answer) return 4;
        if (answer->outputs.result != 0)
            return refused(what, kPropertyForm, AdmOp::get, *answer, json, out, err);
        known = KnownListing::fromReply(answer->fields, 0);
        known.name = name_;
    }
    applyOptions(known);
    if (dryRun_) return dryRun(adding ? "add" : "change", known, json, out);
    AdmOp op = adding ? AdmOp::add : AdmOp::chg;
    auto answer = ask(session, propertyRequest(op, kind_, known), err);
    if (!answer) return 4;
    if (answer->outputs.result != 0)
        return refused(what, kPropertyForm, op, *answer, json, out, err);
    // Show what the set now holds.
    first.op = AdmOp::get;
    auto stored = ask(session, first, err);
    if (!stored) return 4;
    if (stored->outputs.result != 0)
        return refused(what, kPropertyForm, AdmOp::get, *stored, json, out, err);
    printTable({KnownListing::fromReply(stored->fields, 0)}, json, out);
    return 0;
}

int KnownCommands::dryRun(const char* action, const Known& known, bool json,
                          std::ostream& out) const {
    if (json) {
        out << jsonText(
            {{"dry_run", true}, {"action", action}, {"property", KnownListing::toJson(known)}});
        return 0;
    }
    out << "dry run, nothing written: would " << action << " in " << kind_ << ":\n";
    printTable({known}, false, out);
    return 0;
}

int KnownCommands::remove(FormSession& session, bool json, std::ostream& out, std::ostream& err) {
    FormSession::Request request;
    request.form = kPropertyForm;
    nameFields(kind_, name_, request);
    if (dryRun_) {
        // What a removal would take away is what a get finds now.
        request.op = AdmOp::get;
        auto answer = ask(session, request, err);
        if (!answer) return 4;
        if (answer->outputs.result != 0)
            return refused("known remove " + kind_ + " " + shownName(name_), kPropertyForm,
                           AdmOp::get, *answer, json, out, err);
        return dryRun("remove", KnownListing::fromReply(answer->fields, 0), json, out);
    }
    request.op = AdmOp::rem;
    auto answer = ask(session, request, err);
    if (!answer) return 4;
    if (answer->outputs.result != 0)
        return refused("known remove " + kind_ + " " + shownName(name_), kPropertyForm, AdmOp::rem,
                       *answer, json, out, err);
    if (json)
        out << jsonText({{"kind", kind_}, {"name", name_}, {"removed", true}});
    else
        out << "removed " << shownName(name_) << " from the known properties of " << kind_ << "\n";
    return 0;
}
