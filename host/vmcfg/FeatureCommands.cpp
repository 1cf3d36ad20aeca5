#include "host/vmcfg/FeatureCommands.h"

#include <strings.h>

#include <istream>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <vector>

#include "host/common/FormSession.h"
#include "host/common/JsonText.h"
#include "host/common/TerminalText.h"

namespace {

using Json = nlohmann::json;

constexpr int kFeatureForm = 3;
constexpr int kRows = 7;
constexpr int kReplyFields = 21;
constexpr int kSystemPropFailed = 1190;
constexpr int kDeliveryRow = 5;
// The form's answer for a change that failed at the marker file or at the
// feature command (rval 3, ecode 1); only a fresh listing tells which.
constexpr int kRvalFailed = 3;
constexpr int kEcodeNotSwitched = 1;

// The features' short names by row, as the platform names them in its
// marker files; the form itself shows only the questions.
const char* const kShortNames[kRows] = {"CAD",
                                        "CDR",
                                        "Tandem Mailbox",
                                        "set covering extension",
                                        "early warning message",
                                        "disable message delivery",
                                        "forward private messages"};

struct Row {
    bool offered = false;  // false: a configuration parameter decides it
    String question;
    char setting = 'n';
};

// The rows as a get of the form lists them.
std::optional<std::vector<Row>> listing(FormSession& session, std::ostream& err) {
    FormSession::Request request{kFeatureForm, AdmOp::get, {}};
    std::optional<FormSession::Answer> answer = session.call(request);
    if (!answer) {
        err << "vmcfg: the module has no feature form" << std::endl;
        return std::nullopt;
    }
    std::vector<Row> rows(kRows);
    const std::vector<String>& fields = answer->fields;
    for (std::size_t field = 1; field + 2 < fields.size() && !fields[field].empty(); field += 3) {
        int row = std::atoi(fields[field].c_str());
        if (row < 0 || row >= kRows || fields[field] == "-1") break;
        rows[row] = {true, fields[field + 1], fields[field + 2] == "y" ? 'y' : 'n'};
    }
    return rows;
}

bool sameText(const String& a, const String& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The row a ROW|NAME argument names, or -1.
int rowOf(const String& feature, const std::vector<Row>& rows) {
    if (!feature.empty() && feature.find_first_not_of("0123456789") == String::npos)
        return feature.size() <= 2 && std::stoi(feature) < kRows ? std::stoi(feature) : -1;
    for (int row = 0; row < kRows; ++row) {
        const String& question = rows[row].question;
        if (sameText(feature, kShortNames[row]) ||
            (!question.empty() && sameText(feature, question)) ||
            (!question.empty() && sameText(feature + "?", question)))
            return row;
    }
    return -1;
}

String describe(int row, const Row& r) {
    return "row " + std::to_string(row) + " (" + kShortNames[row] + ")" +
           (r.offered ? ", \"" + terminalText(r.question) + "\"" : "");
}

}  // namespace

FeatureCommands::FeatureCommands(CLI::App& app) {
    group_ = app.add_subcommand("features", "The platform's optional features (form 3)");
    group_->add_option("--module", module_, "The module library (default: beside vmcfg)");
    set_ = group_->add_subcommand("set", "Switch one feature on or off, after confirmation");
    set_->add_option("feature", feature_, "Row number, short name or question")->required();
    set_->add_option("setting", state_, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}, CLI::ignore_case));
    set_->add_flag("--yes,-y", yes_, "Do not ask: the change is confirmed");
    set_->add_flag("--dry-run", dryRun_, "Say what would change; switch nothing");
}

bool FeatureCommands::selected() const {
    return group_->parsed();
}

int FeatureCommands::run(const GlobalOptions& options, std::istream& in, std::ostream& out,
                         std::ostream& err) {
    FormSession session;
    if (!session.open(module_, err, "vmcfg", FormSession::Unload::atExit)) return 4;
    if (set_->parsed()) return set(session, options.json, in, out, err);
    return list(session, options.json, out, err);
}

int FeatureCommands::list(FormSession& session, bool json, std::ostream& out, std::ostream& err) {
    std::optional<std::vector<Row>> rows = listing(session, err);
    if (!rows) return 1;
    Json array = Json::array();
    for (int row = 0; row < kRows; ++row) {
        const Row& r = (*rows)[row];
        if (json) {
            array.push_back(
                {{"row", row},
                 {"name", kShortNames[row]},
                 {"offered", r.offered},
                 {"question", r.offered ? Json(r.question) : Json()},
                 {"setting", r.offered ? Json(r.setting == 'y' ? "on" : "off")
                                       : Json("decided by a configuration parameter")}});
        } else if (r.offered) {
            out << row << "  " << (r.setting == 'y' ? "on " : "off") << "  "
                << terminalText(r.question) << '\n';
        } else {
            out << row << "  --   (" << kShortNames[row]
                << ": decided by a configuration parameter, not offered)\n";
        }
    }
    if (json) out << jsonText(array);
    return 0;
}

namespace {

// The administrator's yes, read from one line of input.
bool confirmed(const String& question, bool on, std::istream& in, std::ostream& out) {
    out << "Switch " << (on ? "on" : "off") << " \"" << terminalText(question) << "\"? [y/N] "
        << std::flush;
    String answer;
    if (!std::getline(in, answer)) return false;
    return sameText(answer, "y") || sameText(answer, "yes");
}

// The words for what the confirmed change answered.
String outcomeText(const FormSession::Answer& answer) {
    const AdmAnswer& a = answer.outputs;
    if (a.result == kSystemPropFailed)
        return "switched, but the system property \"ORVEX DISABLE MESSAGE DELIVERY\" was not "
               "updated";
    return adm_ecode_text(kFeatureForm, a.ecode);
}

// After a failed confirmed change: true when the marker file was changed all
// the same, so the feature command is what failed. The form removes a marker
// before it runs the command, and writes one before, so the row now shows
// the setting asked for exactly then.
bool commandFailed(FormSession& session, const FormSession::Answer& answer, int row, bool on,
                   std::ostream& err) {
    if (answer.outputs.rval != kRvalFailed || answer.outputs.ecode != kEcodeNotSwitched)
        return false;
    std::optional<std::vector<Row>> now = listing(session, err);
    return now && (*now)[row].offered && ((*now)[row].setting == 'y') == on;
}

// What stays changed when the feature command failed, in words.
String commandFailureWarning(int row, bool on) {
    String words = on ? "the marker file was written and stays, so the feature is listed as on"
                      : "the marker file was removed, so the feature is listed as off";
    if (row == kDeliveryRow)
        words += on ? "; the system property \"ORVEX DISABLE MESSAGE DELIVERY\" was not changed"
                    : "; the system property \"ORVEX DISABLE MESSAGE DELIVERY\" was set to 0 "
                      "all the same (delivery on)";
    return "warning: the feature command \"mkgf_act\" failed: " + words +
           "; the platform may not have applied the change: switch the feature again once the "
           "command works";
}

// The exit status for a row that cannot be switched (0: it can).
int refusedRow(const String& feature, int row, const std::vector<Row>& rows, std::ostream& err) {
    if (row < 0) {
        err << "vmcfg: no feature \"" << terminalText(feature) << "\" (rows 0 to 6)" << std::endl;
        return 2;
    }
    if (rows[row].offered) return 0;
    err << "vmcfg: " << describe(row, rows[row])
        << " is decided by the configuration parameter file; the form does not offer it"
        << std::endl;
    return 1;
}

}  // namespace

int FeatureCommands::set(FormSession& session, bool json, std::istream& in, std::ostream& out,
                         std::ostream& err) {
    std::optional<std::vector<Row>> rows = listing(session, err);
    if (!rows) return 1;
    int row = rowOf(feature_, *rows);
    if (int refused = refusedRow(feature_, row, *rows, err)) return refused;
    const Row& r = (*rows)[row];
    bool on = sameText(state_, "on");
    Json report = {{"row", row}, {"name", kShortNames[row]}, {"setting", on ? "on" : "off"}};
    auto finish = [&](int status, const String& words, const FormSession::Answer* answer) {
        std::ostream& text = status == 0 ? out : err;
        if (!json)
            text << (status == 0 ? "" : "vmcfg: ") << describe(row, r) << ": " << words << '\n';
        if (!json) return status;
        report["message"] = words;
        report["changed"] = status == 0 && answer != nullptr;
        if (status != 0) report.update({{"error", words}, {"exit", status}});
        if (answer)
            report.update({{"result", answer->outputs.result},
                           {"rval", answer->outputs.rval},
                           {"ecode", answer->outputs.ecode}});
        out << jsonText(report);
        return status;
    };
    if ((r.setting == 'y') == on) return finish(0, on ? "already on" : "already off", nullptr);
    if (dryRun_)
        return finish(0, String("dry run, nothing written: would switch ") + (on ? "on" : "off"),
                      nullptr);

    FormSession::Request change{
        kFeatureForm, AdmOp::chg, {{1, std::to_string(row)}, {3, on ? "y" : "n"}}};
    std::optional<FormSession::Answer> asked = session.call(change);
    if (!asked || asked->outputs.result != 1037)
        return finish(1, asked ? outcomeText(*asked) : "no answer", asked ? &*asked : nullptr);
    if (!yes_ && !confirmed(r.question, on, in, json ? err : out))
        return finish(1, "not confirmed, nothing changed", nullptr);
    change.fields[0] = "confirm";
    std::optional<FormSession::Answer> done = session.call(change);
    if (!done) return finish(1, "no answer", nullptr);
    if (done->outputs.result == 0 && done->outputs.rval == 2)
        return finish(0, on ? "switched on" : "switched off", &*done);
    if (!commandFailed(session, *done, row, on, err)) return finish(1, outcomeText(*done), &*done);
    String warning = commandFailureWarning(row, on);
    err << "vmcfg: " << describe(row, r) << ": " << warning << std::endl;
    report.update(
        {{"command_failed", true}, {"warning", warning}, {"setting_now", on ? "on" : "off"}});
    if (row == kDeliveryRow) report["system_property_set"] = !on;
    return finish(1, "the feature command \"mkgf_act\" failed", &*done);
}
