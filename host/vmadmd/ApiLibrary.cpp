#include "host/vmadmd/ApiLibrary.h"

#include <sstream>

#include "config_adm_version.h"
#include "host/common/PropertyText.h"
#include "host/vmadmd/ConsoleRevert.h"
#include "host/vmadmd/HistoryView.h"
#include "host/vmadmd/ParamsView.h"
#include "host/vmadmd/SetQuery.h"
#include "properties/Properties.h"

namespace {

// A message the shared code wrote for vmcfg's standard error, for the page.
String withoutProgram(String text) {
    if (text.rfind("vmcfg: ", 0) == 0) text.erase(0, 7);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

ConsoleReply param(const std::string& key, const std::multimap<std::string, std::string>& query) {
    return ParamsView::explain(key, query);
}

ConsoleReply props(const std::multimap<std::string, std::string>& query) {
    SetQuery named;
    String refusal;
    if (!named.parse(query, {}, refusal)) return ConsoleReply::error(400, refusal);
    std::ostringstream why;
    int status = 0;
    std::unique_ptr<Properties> set = named.target().open(false, why, status);
    if (!set) return ConsoleReply::error(status == 2 ? 404 : 500, withoutProgram(why.str()));
    return {200, visiblePropertiesJson(*set, PropertyAttributes::Server)};
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
                                          ParamsView::list,
                                          ParamsView::check,
                                          ParamsView::files,
                                          moduleVersion};
    return &calls;
}
