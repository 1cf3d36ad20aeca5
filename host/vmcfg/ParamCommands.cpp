#include "host/vmcfg/ParamCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ostream>

#include "config/ConfigurationInfo.h"
#include "host/vmcfg/JsonText.h"
#include "platform/FileSystem.h"

namespace {

using Json = nlohmann::json;

// What a reader's slot holds for key, if anything.
const String* heldValue(const VantorConfigurationInfoDB& slot, const Symbol& key) {
    auto found = slot.params().find(key);
    return found == slot.params().end() ? nullptr : &found->second;
}

}  // namespace

ParamCommands::ParamCommands(CLI::App& app) : file_(ConfigurationInfo::defaultConfigFile.text()) {
    group_ = app.add_subcommand("param", "Read the configuration-parameter file");
    group_->require_subcommand(1);
    auto addFile = [this](CLI::App* command) {
        command->add_option("--file", file_, "Platform path of the file")->capture_default_str();
        command->fallthrough();
    };
    get_ = group_->add_subcommand("get", "Print a key's value and the type that supplied it");
    get_->add_option("key", key_, "Parameter key")->required();
    addFile(get_);
    explain_ = group_->add_subcommand("explain", "Show how every precedence type answers a key");
    explain_->add_option("key", key_, "Parameter key")->required();
    addFile(explain_);
    check_ = group_->add_subcommand("check", "Parse the file; exit 1 when the parse fails");
    check_->add_option("--debug", debugLevel_, "Parser debug level (0, >0, >10, >100)");
    addFile(check_);
    types_ = group_->add_subcommand("types", "List the precedence types in slot order");
    addFile(types_);
    group_->fallthrough();
}

bool ParamCommands::selected() const {
    return group_->parsed();
}

int ParamCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    if (check_->parsed()) return check(options.json, out);
    if (!readable(err)) return 2;
    // A quiet reader: the file is parsed once and its diagnostics are failures only.
    ConfigurationInfo info(Path(file_), 0);
    if (get_->parsed()) return get(info, options.json, out, err);
    if (explain_->parsed()) return explain(info, options.json, out);
    return types(info, options.json, out);
}

bool ParamCommands::readable(std::ostream& err) const {
    struct stat info;
    int error = 0;
    if (FileSystem::stat(Path(file_), &info) != 0 || FileSystem::access(Path(file_), R_OK) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    if (error == 0) return true;
    err << "vmcfg: can't read configuration file " << file_ << ": " << std::strerror(error)
        << std::endl;
    return false;
}

int ParamCommands::get(const VantorConfigurationInfo& info, bool json, std::ostream& out,
                       std::ostream& err) const {
    String value;
    Symbol type, typeValue;
    bool found = info.configGet(Symbol(key_), value, type, typeValue);
    if (json) {
        Json reply = {
            {"key", key_}, {"value", nullptr}, {"type", nullptr}, {"type_value", nullptr}};
        if (found) {
            reply["value"] = value;
            reply["type"] = type.text();
            reply["type_value"] = typeValue.text();
        }
        out << jsonText(reply);
    } else if (found) {
        out << value << " (" << type << "=" << typeValue << ")" << std::endl;
    } else {
        err << "vmcfg: " << key_ << ": no precedence type holds this key in " << file_ << std::endl;
    }
    return found ? 0 : 1;
}

int ParamCommands::explain(const VantorConfigurationInfo& info, bool json,
                           std::ostream& out) const {
    Symbol key(key_);
    String value;
    Symbol winner, winnerValue;
    bool found = info.configGet(key, value, winner, winnerValue);
    Json rows = Json::array();
    std::size_t slot = 0;
    for (const VantorConfigurationInfoDB* db : info.precedenceSlots()) {
        const String* held = heldValue(*db, key);
        bool wins = found && db->paramType() == winner;
        if (json) {
            rows.push_back({{"slot", slot},
                            {"type", db->paramType().text()},
                            {"type_value", db->paramValue()},
                            {"holds", held != nullptr},
                            {"value", held ? Json(*held) : Json(nullptr)},
                            {"wins", wins}});
        } else {
            out << "slot " << slot << ": " << db->paramType() << "=" << db->paramValue() << "  "
                << (held ? "holds " + key_ + "=" + *held : "does not hold " + key_)
                << (wins ? "  <- wins" : "") << std::endl;
        }
        ++slot;
    }
    if (json) {
        Json reply = {{"key", key_}, {"types", rows}, {"value", nullptr}, {"winner", nullptr}};
        if (found) {
            reply["value"] = value;
            reply["winner"] = winner.text();
        }
        out << jsonText(reply);
    } else if (found) {
        out << key_ << "=" << value << " from " << winner << "=" << winnerValue << std::endl;
    } else {
        out << key_ << ": no precedence type holds this key" << std::endl;
    }
    return found ? 0 : 1;
}

int ParamCommands::check(bool json, std::ostream& out) const {
    ConfigurationInfo info(Path(file_), debugLevel_);
    bool ok = info.isInitialized();
    std::size_t count = info.precedenceSlots().size();
    if (json)
        out << jsonText({{"file", file_}, {"ok", ok}, {"types", count}});
    else
        out << file_ << ": " << (ok ? "ok" : "failed") << ", " << count << " precedence type"
            << (count == 1 ? "" : "s") << std::endl;
    return ok ? 0 : 1;
}

int ParamCommands::types(const VantorConfigurationInfo& info, bool json, std::ostream& out) const {
    Json rows = Json::array();
    std::size_t slot = 0;
    for (const VantorConfigurationInfoDB* db : info.precedenceSlots()) {
        if (json)
            rows.push_back({{"slot", slot},
                            {"type", db->paramType().text()},
                            {"type_value", db->paramValue()}});
        else
            out << slot << " " << db->paramType() << "=" << db->paramValue() << std::endl;
        ++slot;
    }
    if (json) out << jsonText({{"file", file_}, {"types", rows}});
    return 0;
}
