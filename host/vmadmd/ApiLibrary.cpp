#include "host/vmadmd/ApiLibrary.h"

#include <sstream>

#include "config_adm_version.h"
#include "host/common/AccessRights.h"
#include "host/common/PropertyText.h"
#include "host/vmadmd/ConsoleEdit.h"
#include "host/vmadmd/ConsoleRevert.h"
#include "host/vmadmd/HistoryView.h"
#include "host/vmadmd/KnownView.h"
#include "host/vmadmd/ParamsView.h"
#include "host/vmadmd/SetQuery.h"
#include "properties/Properties.h"

namespace {

ConsoleReply param(const std::string& key, const std::multimap<std::string, std::string>& query) {
    return ParamsView::explain(key, query);
}

ConsoleReply props(const std::multimap<std::string, std::string>& query) {
    static constexpr std::string_view kOwn[] = {"access"};
    SetQuery named;
    String refusal;
    if (!named.parse(query, kOwn, refusal)) return ConsoleReply::error(400, refusal);
    PropertyAttributes::AccessType access = PropertyAttributes::Server;
    auto given = query.equal_range("access");
    if (given.first != given.second &&
        (std::next(given.first) != given.second || !parseAccessClass(given.first->second, access)))
        return ConsoleReply::error(400,
                                   "access: give one access class (Server, Privileged, "
                                   "Trusted, Standard, Restricted, Minimal)");
    std::ostringstream why;
    int status = 0;
    std::unique_ptr<Properties> set = named.target().open(false, why, status);
    if (!set)
        return ConsoleReply::error(status == 2 ? 404 : 500,
                                   ConsoleReply::withoutProgram(why.str()));
    return {200, visiblePropertiesJson(*set, access)};
}

// What "vmcfg props check" says of a set: read whole, or the first error.
ConsoleReply propsCheck(const std::multimap<std::string, std::string>& query) {
    SetQuery named;
    String refusal;
    if (!named.parse(query, {}, refusal)) return ConsoleReply::error(400, refusal);
    std::ostringstream why;
    int status = 0;
    std::unique_ptr<Properties> set = named.target().open(false, why, status);
    if (!set)
        return ConsoleReply::error(status == 2 ? 404 : 500,
                                   ConsoleReply::withoutProgram(why.str()));
    return {200, nlohmann::json{{"target", named.target().describe()},
                                {"ok", true},
                                {"count", set->count()},
                                {"version", set->getVersion()}}};
}

ConsoleReply history(const std::multimap<std::string, std::string>& query) {
    return HistoryView::answer(query);
}

const char* moduleVersion() {
    return config_adm_version();
}

}  // namespace

const ApiLibraryCalls* vmadmd_api_calls() {
    static const ApiLibraryCalls calls = {param,
                                          props,
                                          history,
                                          ConsoleRevert::run,
                                          ConsoleEdit::run,
                                          ParamsView::list,
                                          ParamsView::check,
                                          ParamsView::files,
                                          KnownView::fixedNames,
                                          propsCheck,
                                          moduleVersion};
    return &calls;
}
