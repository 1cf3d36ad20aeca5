#include "host/vmcfg/ParamCommands.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

#include "config/ConfigurationInfo.h"
#include "host/common/JsonText.h"
#include "host/common/ParamExplain.h"
#include "host/common/ParamFile.h"
#include "host/platform/HostPlatform.h"

namespace {

using Json = nlohmann::json;

// Human output shows names and values as text a terminal only displays:
// control characters, DEL, C1 controls and bytes that are not UTF-8 are
// written as \xNN, so a value cannot move the cursor or retitle the window.
// Printable ASCII and well-formed UTF-8 above the C1 range pass unchanged.
// A backslash is not escaped: human output is for reading, and the JSON
// output is the one to parse.
struct Shown {
    std::string_view text;
};

// The length of the well-formed UTF-8 sequence of a printable character at
// the front of text, or 0.
std::size_t printableSequence(std::string_view text) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    if (lead >= 0x20 && lead < 0x7f) return 1;
    std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                         : lead >= 0xe0 && lead <= 0xef ? 3
                         : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                        : 0;
    if (length == 0 || text.size() < length) return 0;
    // The second byte's range excludes overlong forms, surrogates, code points
    // above U+10FFFF and, after 0xc2, the C1 controls.
    unsigned char low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : lead == 0xc2 ? 0xa0 : 0x80;
    unsigned char high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
    return length;
}

std::ostream& operator<<(std::ostream& out, Shown shown) {
    std::string_view text = shown.text;
    while (!text.empty()) {
        std::size_t length = printableSequence(text);
        if (length != 0) {
            out << text.substr(0, length);
        } else {
            static const char digits[] = "0123456789abcdef";
            unsigned char c = static_cast<unsigned char>(text[0]);
            out << "\\x" << digits[c >> 4] << digits[c & 15];
            length = 1;
        }
        text.remove_prefix(length);
    }
    return out;
}

Shown shown(const String& text) {
    return Shown{text};
}

Shown shown(const Symbol& symbol) {
    return Shown{symbol.text()};
}

// Under JSON a failure carries its reason and exit status, as every vmcfg
// failure does: a key no type holds, or a file whose parse failed.
void addFailure(Json& reply, bool parsed, bool found, const String& key, const String& file) {
    if (found && parsed) return;
    putBytes(reply, "error",
             found ? file + ": the parse failed"
                   : key + ": no precedence type holds this key in " + file);
    reply["exit"] = 1;
}

}  // namespace

ParamCommands::ParamCommands(CLI::App& app) : file_(ConfigurationInfo::defaultConfigFile.text()) {
    group_ = app.add_subcommand("param", "Read the configuration-parameter file");
    group_->require_subcommand(1);
    auto addFile = [this](CLI::App* command) {
        command->add_option("--file", file_, "Platform path of the file")->capture_default_str();
        command->add_flag("--no-commands", noCommands_,
                          "Read $(...) terms as empty instead of running their commands "
                          "(by default they run, as the file's format says)");
        command->fallthrough();
    };
    get_ = group_->add_subcommand("get", "Print a key's value and the type that supplied it");
    get_->add_option("key", key_, "Parameter key")->required();
    addFile(get_);
    explain_ = group_->add_subcommand("explain", "Show how every precedence type answers a key");
    explain_->add_option("key", key_, "Parameter key")->required();
    addFile(explain_);
    check_ = group_->add_subcommand("check", "Parse the file; exit 1 when the parse fails");
    check_->add_option("--debug", debugLevel_, "Parser debug level (0, >0, >10, >100)")
        ->check(CLI::Range(0L, std::numeric_limits<long>::max()));
    addFile(check_);
    types_ = group_->add_subcommand("types", "List the precedence types in slot order");
    addFile(types_);
    list_ = group_->add_subcommand("list", "List every key with its winning value and type");
    addFile(list_);
    group_->fallthrough();
}

bool ParamCommands::selected() const {
    return group_->parsed();
}

int ParamCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (!readable(err)) return 2;
    if (options.valueOnly() && !get_->parsed()) {
        err << "vmcfg: -o value prints one value: param get KEY (and props show --name)"
            << std::endl;
        return 2;
    }
    if (noCommands_) HostPlatform::setCommandsRun(false);
    if (check_->parsed()) return check(options.json, out, err);
    if (list_->parsed()) return list(options.json, out, err);
    // A quiet reader: the file is parsed once and its diagnostics are
    // failures only.
    ConfigurationInfo info(Path(file_), 0);
    int parsed = info.isInitialized() ? 0 : 1;
    if (get_->parsed()) return std::max(get(info, options, out, err), parsed);
    if (explain_->parsed()) return std::max(explain(info, options.json, out), parsed);
    types(info, options.json, out);
    return parsed;
}

bool ParamCommands::readable(std::ostream& err) const {
    String reason = configFileProblem(Path(file_));
    if (reason.empty()) return true;
    err << "vmcfg: can't read configuration file " << shown(file_) << ": " << reason << std::endl;
    return false;
}

int ParamCommands::get(const VantorConfigurationInfo& info, const GlobalOptions& options,
                       std::ostream& out, std::ostream& err) const {
    String value;
    Symbol type, typeValue;
    bool found = info.configGet(Symbol(key_), value, type, typeValue);
    if (options.json) {
        Json reply = {{"value", nullptr}, {"type", nullptr}, {"type_value", nullptr}};
        putBytes(reply, "key", key_);
        if (found) {
            putBytes(reply, "value", value);
            putBytes(reply, "type", type.text());
            putBytes(reply, "type_value", typeValue.text());
        }
        addFailure(reply, info.isInitialized(), found, key_, file_);
        out << jsonText(reply);
    } else if (found && options.valueOnly()) {
        out << value << std::endl;
    } else if (found) {
        out << shown(value) << " (" << shown(type) << "=" << shown(typeValue) << ")" << std::endl;
    } else {
        err << "vmcfg: " << shown(key_) << ": no precedence type holds this key in " << shown(file_)
            << std::endl;
    }
    return found ? 0 : 1;
}

int ParamCommands::explain(const VantorConfigurationInfo& info, bool json,
                           std::ostream& out) const {
    bool found = false;
    Json reply = paramExplainJson(info, key_, found);
    if (json) {
        addFailure(reply, info.isInitialized(), found, key_, file_);
        out << jsonText(reply);
        return found ? 0 : 1;
    }
    for (const Json& row : reply["types"]) {
        out << "slot " << row["slot"].get<std::size_t>() << ": "
            << shown(row["type"].get_ref<const String&>()) << "="
            << shown(row["type_value"].get_ref<const String&>()) << "  "
            << (row["holds"] ? "holds " : "does not hold ") << shown(key_);
        if (row["holds"]) out << "=" << shown(row["value"].get_ref<const String&>());
        out << (row["wins"] ? "  <- wins" : "") << std::endl;
    }
    String value;
    Symbol winner, winnerValue;
    if (info.configGet(Symbol(key_), value, winner, winnerValue))
        out << shown(key_) << "=" << shown(value) << " from " << shown(winner) << "="
            << shown(winnerValue) << std::endl;
    else
        out << shown(key_) << ": no precedence type holds this key" << std::endl;
    return found ? 0 : 1;
}

int ParamCommands::check(bool json, std::ostream& out, std::ostream& err) const {
    ParamFile file(Path(file_), debugLevel_, !noCommands_);
    err << file.diagnosticText() << std::flush;
    std::size_t count = file.reader().precedenceSlots().size();
    if (json) {
        Json reply = file.checkJson();
        addFailure(reply, file.ok(), true, key_, file_);
        out << jsonText(reply);
    } else
        out << shown(file_) << ": " << (file.ok() ? "ok" : "failed") << ", " << count
            << " precedence type" << (count == 1 ? "" : "s") << std::endl;
    return file.ok() ? 0 : 1;
}

int ParamCommands::list(bool json, std::ostream& out, std::ostream& err) const {
    ParamFile file(Path(file_), 0, !noCommands_);
    err << file.diagnosticText() << std::flush;
    Json reply = file.listJson();
    if (json) {
        addFailure(reply, file.ok(), true, key_, file_);
        out << jsonText(reply);
    } else {
        for (const Json& row : reply["keys"])
            out << shown(row["key"].get_ref<const String&>()) << "="
                << shown(row["value"].get_ref<const String&>()) << " ("
                << shown(row["type"].get_ref<const String&>()) << "="
                << shown(row["type_value"].get_ref<const String&>()) << ")" << std::endl;
    }
    return file.ok() ? 0 : 1;
}

void ParamCommands::types(const VantorConfigurationInfo& info, bool json, std::ostream& out) const {
    Json rows = Json::array();
    std::size_t slot = 0;
    for (const VantorConfigurationInfoDB* db : info.precedenceSlots()) {
        if (json)
            rows.push_back({{"slot", slot},
                            {"type", db->paramType().text()},
                            {"type_value", db->paramValue()}});
        else
            out << slot << " " << shown(db->paramType()) << "=" << shown(db->paramValue())
                << std::endl;
        ++slot;
    }
    if (!json) return;
    Json reply = {{"file", file_}, {"types", rows}};
    addFailure(reply, info.isInitialized(), true, key_, file_);
    out << jsonText(reply);
}
