#include "host/vmadmd/ApiLibrary.h"

#include <algorithm>
#include <sstream>

#include "config/ConfigurationInfo.h"
#include "config_adm_version.h"
#include "host/common/ParamExplain.h"
#include "host/common/PropertyText.h"
#include "host/common/PropsTarget.h"
#include "properties/Properties.h"

namespace {

// The set a props query names: exactly one of the known parameters.
bool propsTarget(const std::multimap<std::string, std::string>& query, PropsTarget& target,
                 String& error) {
    static const std::pair<const char*, PropsTarget::Kind> kKinds[] = {
        {"system", PropsTarget::SYSTEM},
        {"cos", PropsTarget::COS},
        {"subscriber", PropsTarget::SUBSCRIBER},
        {"message", PropsTarget::MESSAGE},
        {"file", PropsTarget::FILE}};
    PropsTarget::Kind kind = PropsTarget::NONE;
    String argument;
    for (const auto& [name, value] : query) {
        auto known = std::find_if(std::begin(kKinds), std::end(kKinds),
                                  [&](const auto& entry) { return name == entry.first; });
        if (known == std::end(kKinds) || kind != PropsTarget::NONE) {
            kind = PropsTarget::NONE;
            break;
        }
        kind = known->second;
        argument = value;
    }
    if (kind == PropsTarget::NONE) {
        error = "name one set: ?system, ?cos=N, ?subscriber=N, ?message=PATH or ?file=PATH";
        return false;
    }
    return target.choose(kind, argument, error);
}

// A message the shared code wrote for vmcfg's standard error, for the page.
String withoutProgram(String text) {
    if (text.rfind("vmcfg: ", 0) == 0) text.erase(0, 7);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

ConsoleReply param(const std::string& key) {
    const Path& file = ConfigurationInfo::defaultConfigFile;
    String problem = configFileProblem(file);
    if (!problem.empty())
        return ConsoleReply::error(503,
                                   "can't read configuration file " + file.text() + ": " + problem);
    ConfigurationInfo info(file, 0);
    bool found = false;
    nlohmann::json reply = paramExplainJson(info, key, found);
    return {found ? 200 : 404, reply};
}

ConsoleReply props(const std::multimap<std::string, std::string>& query) {
    PropsTarget target;
    String refusal;
    if (!propsTarget(query, target, refusal)) return ConsoleReply::error(400, refusal);
    std::ostringstream why;
    int status = 0;
    std::unique_ptr<Properties> set = target.open(false, why, status);
    if (!set) return ConsoleReply::error(status == 2 ? 404 : 500, withoutProgram(why.str()));
    return {200, visiblePropertiesJson(*set, PropertyAttributes::Server)};
}

const char* moduleVersion() {
    return config_adm_version();
}

}  // namespace

const ApiLibraryCalls* vmadmd_api_calls() {
    static const ApiLibraryCalls calls = {param, props, moduleVersion};
    return &calls;
}
