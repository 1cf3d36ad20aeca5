#include "host/vmadmd/ConsoleApi.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "config/ConfigurationInfo.h"
#include "host/common/JsonText.h"
#include "host/common/ParamExplain.h"
#include "host/common/PropertyText.h"
#include "host/common/PropsTarget.h"
#include "host/platform/RunTokenHolder.h"
#include "properties/Properties.h"

namespace {

using Json = nlohmann::json;

// A whole decimal number of at most `maximum`, digits only.
bool wholeNumber(std::string_view text, int maximum, int& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() &&
           value >= 0 && value <= maximum;
}

// The bytes a field's JSON value stands for: the text itself ("fields"), or
// hexadecimal pairs ("raw_fields", for bytes that are not UTF-8). False when
// the value is neither or is longer than a field may be.
bool fieldBytes(const Json& value, bool hex, String& bytes) {
    if (!value.is_string()) return false;
    const String& text = value.get_ref<const String&>();
    if (!hex) bytes = text;
    return (!hex || bytesOfHex(text, bytes)) && bytes.size() <= ConsoleApi::kMaxValue;
}

// Adds the fields of one member of the body ("fields" or "raw_fields"); a
// later member replaces a field an earlier one gave.
bool addFields(const Json& body, const char* member, std::map<int, String>& fields, String& error) {
    bool hex = std::string_view(member) == "raw_fields";
    auto found = body.find(member);
    if (found == body.end()) return true;
    if (!found->is_object() || found->size() > ConsoleApi::kMaxFields) {
        error = String("\"") + member + "\" must be an object of at most " +
                std::to_string(ConsoleApi::kMaxFields) + " fields";
        return false;
    }
    for (auto& [key, value] : found->items()) {
        int number = 0;
        String bytes;
        if (!wholeNumber(key, ConsoleApi::kMaxField, number)) {
            error = "field numbers go from 0 to " + std::to_string(ConsoleApi::kMaxField) +
                    " (got \"" + key + "\")";
            return false;
        }
        if (!fieldBytes(value, hex, bytes)) {
            error = "field " + key + " must be a string of at most " +
                    std::to_string(ConsoleApi::kMaxValue) + " bytes" +
                    (hex ? ", as hexadecimal pairs" : "");
            return false;
        }
        fields[number] = std::move(bytes);
    }
    return true;
}

// The request fields of a form call's body, or the reason they are refused.
bool requestFields(const std::string& body, std::map<int, String>& fields, String& error) {
    Json parsed = Json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        error = "the body must be a JSON object {\"fields\":{\"N\":\"text\",...}}";
        return false;
    }
    return addFields(parsed, "fields", fields, error) &&
           addFields(parsed, "raw_fields", fields, error);
}

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

}  // namespace

ConsoleApi::ConsoleApi(FormSession& session, String root)
    : session_(session), root_(std::move(root)) {}

ConsoleApi::Reply ConsoleApi::error(int status, const String& text) {
    return {status, Json{{"error", text}}};
}

ConsoleApi::Reply ConsoleApi::session() {
    std::lock_guard lock(mutex_);
    RunTokenHolder token;
    const char* application = session_.data() ? session_.data()->application() : "";
    return {200,
            Json{{"application", application}, {"forms", session_.formNumbers()}, {"root", root_}}};
}

ConsoleApi::Reply ConsoleApi::form(std::string_view form, std::string_view op,
                                   const std::string& body) {
    FormSession::Request request;
    std::optional<AdmOp> operation = adm_op(std::string(op));
    if (!wholeNumber(form, 65535, request.form)) return error(404, "no form " + String(form));
    if (!operation)
        return error(404, "unknown operation \"" + String(op) +
                              "\" (get, chg, add, addv, rem, list, valid)");
    request.op = *operation;
    String refusal;
    if (!requestFields(body, request.fields, refusal)) return error(400, refusal);
    std::optional<FormSession::Answer> answer;
    {
        std::lock_guard lock(mutex_);
        RunTokenHolder token;
        answer = session_.call(request);
    }
    if (!answer) return error(404, "no form " + std::to_string(request.form));
    Json reply = answerJson(request, *answer);
    int ecode = answer->outputs.ecode;
    reply["message"] = ecode == 0 ? String() : adm_ecode_text(request.form, ecode);
    return {200, reply};
}

ConsoleApi::Reply ConsoleApi::param(const String& key) {
    std::lock_guard lock(mutex_);
    RunTokenHolder token;
    const Path& file = ConfigurationInfo::defaultConfigFile;
    String problem = configFileProblem(file);
    if (!problem.empty())
        return error(503, "can't read configuration file " + file.text() + ": " + problem);
    ConfigurationInfo info(file, 0);
    bool found = false;
    Json reply = paramExplainJson(info, key, found);
    return {found ? 200 : 404, reply};
}

ConsoleApi::Reply ConsoleApi::props(const std::multimap<std::string, std::string>& query) {
    PropsTarget target;
    String refusal;
    if (!propsTarget(query, target, refusal)) return error(400, refusal);
    std::lock_guard lock(mutex_);
    RunTokenHolder token;
    std::ostringstream why;
    int status = 0;
    std::unique_ptr<Properties> set = target.open(false, why, status);
    if (!set) return error(status == 2 ? 404 : 500, withoutProgram(why.str()));
    return {200, visiblePropertiesJson(*set, PropertyAttributes::Server)};
}
