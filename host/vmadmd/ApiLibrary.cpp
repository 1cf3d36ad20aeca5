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

using Query = std::multimap<std::string, std::string>;

// The set the query names, read whole; null with the reply that says why not
// (400 for the query, 404 for a missing or unreadable file, 500 otherwise).
std::unique_ptr<Properties> readNamed(const Query& query, std::span<const std::string_view> own,
                                      SetQuery& named, ConsoleReply& failed) {
    String refusal;
    if (!named.parse(query, own, refusal)) {
        failed = ConsoleReply::error(400, refusal);
        return nullptr;
    }
    std::ostringstream why;
    int status = 0;
    std::unique_ptr<Properties> set = named.target().open(false, why, status);
    if (!set)
        failed =
            ConsoleReply::error(status == 2 ? 404 : 500, ConsoleReply::withoutProgram(why.str()));
    return set;
}

ConsoleReply props(const Query& query) {
    static constexpr std::string_view kOwn[] = {"access"};
    PropertyAttributes::AccessType access = PropertyAttributes::Server;
    auto given = query.equal_range("access");
    if (given.first != given.second &&
        (std::next(given.first) != given.second || !parseAccessClass(given.first->second, access)))
        return ConsoleReply::error(400,
                                   "access: give one access class (Server, Privileged, "
                                   "Trusted, Standard, Restricted, Minimal)");
    SetQuery named;
    ConsoleReply failed;
    std::unique_ptr<Properties> set = readNamed(query, kOwn, named, failed);
    return set ? ConsoleReply{200, visiblePropertiesJson(*set, access)} : failed;
}

// What "vmcfg props check" says of a set: read whole, or the first error.
ConsoleReply propsCheck(const Query& query) {
    SetQuery named;
    ConsoleReply failed;
    std::unique_ptr<Properties> set = readNamed(query, {}, named, failed);
    if (!set) return failed;
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
