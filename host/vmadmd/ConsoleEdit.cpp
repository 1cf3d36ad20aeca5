#include "host/vmadmd/ConsoleEdit.h"

#include <algorithm>
#include <sstream>

#include "host/common/AccessRights.h"
#include "host/common/EditCycle.h"
#include "host/common/JsonText.h"
#include "host/common/PropertyText.h"
#include "host/common/PropsEdit.h"
#include "host/vmadmd/SetQuery.h"
#include "properties/Properties.h"

namespace {

using Json = nlohmann::json;

const char kShape[] =
    "the body must be a JSON object {\"set\":{...},\"op\":\"set\"|\"add\"|\"remove\"|\"reset\","
    "\"name\":...,\"value\":...}";

// The bytes of a text field or of its "_hex" twin; false when the field is
// of the wrong type, both are given, or the hex is not hex.
bool bytesField(const Json& body, const std::string& field, String& bytes, bool& given) {
    auto text = body.find(field), hex = body.find(field + "_hex");
    given = text != body.end() || hex != body.end();
    if (text != body.end() && hex != body.end()) return false;
    if (text != body.end()) {
        if (!text->is_string()) return false;
        bytes = text->get<std::string>();
        return true;
    }
    return hex == body.end() || (hex->is_string() && bytesOfHex(hex->get<std::string>(), bytes));
}

// The set the body names, as the views' query names it.
bool targetOf(const Json& body, SetQuery& named, String& error) {
    auto set = body.find("set");
    if (set == body.end() || !set->is_object()) {
        error =
            "\"set\" must name the set: {\"system\":\"\"}, {\"cos\":\"N\"}, "
            "{\"subscriber\":\"N\"}, {\"message\":PATH} or {\"file\":PATH}";
        return false;
    }
    SetQuery::Query query;
    for (const auto& [key, value] : set->items()) {
        if (!value.is_string()) {
            error = "\"set\": the value of \"" + key + "\" must be a string";
            return false;
        }
        query.emplace(key, value.get<std::string>());
    }
    return named.parse(query, {}, error);
}

// The copy number of an "op": 1 or more for "set" (1 when left out), none
// for "add" (the next free one), any for "remove" (0 when left out: every
// copy) and for "reset" (which puts back every copy whatever it says).
// False with the reason otherwise.
bool copyOf(const Json& body, const std::string& op, unsigned& copy, String& error) {
    const Json index = body.value("index", Json(op == "set" ? 1 : 0));
    const bool copyNumber = index.is_number_integer() && index.get<long long>() >= 0 &&
                            index.get<long long>() <= 0xffffffffLL;
    if (!copyNumber || (op == "set" && index.get<long long>() == 0) ||
        (op == "add" && body.contains("index"))) {
        error = op == "add" ? "\"add\" takes the next free copy: leave out \"index\""
                            : "\"index\" must be a copy number (1 or more for \"set\")";
        return false;
    }
    copy = static_cast<unsigned>(index.get<long long>());
    return true;
}

// The access class the body acts as (Server when left out).
bool accessOf(const Json& body, PropertyAttributes::AccessType& access, String& error) {
    const Json given = body.value("access", Json("Server"));
    if (given.is_string() && parseAccessClass(given.get<std::string>(), access)) return true;
    error =
        "\"access\" must be an access class (Server, Privileged, Trusted, Standard, "
        "Restricted, Minimal)";
    return false;
}

// The request the body asks for; false with the reason otherwise.
bool requestOf(const Json& body, PropsEdit::Request& request, String& error) {
    static const std::pair<const char*, PropsEdit::Action> kOps[] = {
        {"set", PropsEdit::Action::Write},
        {"add", PropsEdit::Action::Write},
        {"remove", PropsEdit::Action::Remove},
        {"reset", PropsEdit::Action::Reset}};
    const std::string op = body.value("op", Json("")).is_string() ? body.value("op", "") : "";
    const auto* found = std::find_if(std::begin(kOps), std::end(kOps),
                                     [&](const auto& entry) { return op == entry.first; });
    if (found == std::end(kOps)) {
        error = "\"op\" must be \"set\", \"add\", \"remove\" or \"reset\"";
        return false;
    }
    request.action = found->second;
    String name, value;
    bool nameGiven = false, valueGiven = false;
    if (!bytesField(body, "name", name, nameGiven) || !nameGiven || name.empty()) {
        error = "give the property's \"name\" (text) or \"name_hex\" (bytes), not both";
        return false;
    }
    if (!bytesField(body, "value", value, valueGiven) ||
        valueGiven != (request.action == PropsEdit::Action::Write)) {
        error = request.action == PropsEdit::Action::Write
                    ? "give the \"value\" (text) or \"value_hex\" (bytes), not both"
                    : "\"" + op + "\" takes no value";
        return false;
    }
    if (!copyOf(body, op, request.wanted.index, error) || !accessOf(body, request.access, error))
        return false;
    request.wanted.name = Symbol(name);
    request.wanted.value.modify(value, 0);
    // A new name the kind does not know gets vmcfg's rights: Server's alone.
    for (int i = 0; i < 6; ++i) {
        const bool server = chainClass(i) == PropertyAttributes::Server;
        request.wanted.attributes.set_readable(chainClass(i), server);
        request.wanted.attributes.set_writeable(chainClass(i), server);
    }
    return true;
}

}  // namespace

ConsoleReply ConsoleEdit::run(const std::string& text) {
    Json body = Json::parse(text, nullptr, false);
    if (!body.is_object()) return ConsoleReply::error(400, kShape);
    SetQuery named;
    PropsEdit::Request request;
    String error;
    const Json dryRun = body.value("dry_run", Json(false));
    if (!targetOf(body, named, error) || !requestOf(body, request, error))
        return ConsoleReply::error(400, error);
    if (!dryRun.is_boolean()) return ConsoleReply::error(400, "\"dry_run\" must be true or false");
    PropsEdit::Outcome outcome;
    bool refused = false;
    std::ostringstream err;
    EditCycle cycle(named.target(), request.action == PropsEdit::Action::Write);
    cycle.setDryRun(dryRun.get<bool>());
    int status = cycle.run(
        [&](Properties& set) {
            outcome = PropsEdit::Outcome();
            String refusal;
            if (PropsEdit::apply(set, request, outcome, refusal) == 0) return 0;
            err << refusal << '\n';
            refused = true;
            return 1;
        },
        err);
    if (status != 0)
        return ConsoleReply::error(refused       ? 422
                                   : status == 2 ? 404
                                                 : 500,
                                   ConsoleReply::withoutProgram(err.str()));
    Json written = Json::array();
    for (const Property& p : outcome.written) written.push_back(propertyJson(p));
    return {200, Json{{"action", outcome.verb},
                      {"written", written},
                      {"removed", outcome.removed},
                      {"count", outcome.left},
                      {"dry_run", dryRun.get<bool>()}}};
}
