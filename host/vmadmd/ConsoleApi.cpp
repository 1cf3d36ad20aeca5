#include "host/vmadmd/ConsoleApi.h"

#include <charconv>

#include "host/common/JsonText.h"
#include "host/common/KnownListing.h"
#include "host/platform/JournalContext.h"
#include "host/platform/RunTokenHolder.h"

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

}  // namespace

template <class Call>
ConsoleApi::Reply ConsoleApi::inModule(Call&& call) {
    std::lock_guard lock(mutex_);
    RunTokenHolder token;
    return call(module_.calls());
}

ConsoleApi::ConsoleApi(ModuleApi& module, String root) : module_(module), root_(std::move(root)) {}

ConsoleApi::Reply ConsoleApi::error(int status, const String& text) {
    return ConsoleReply::error(status, text);
}

ConsoleApi::Reply ConsoleApi::session() {
    std::lock_guard lock(mutex_);
    RunTokenHolder token;
    const FormSession& session = module_.session();
    const char* application = session.data() ? session.data()->application() : "";
    return {200,
            Json{{"application", application}, {"forms", session.formNumbers()}, {"root", root_}}};
}

ConsoleApi::Reply ConsoleApi::form(const String& user, std::string_view form, std::string_view op,
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
        JournalContext::Scope actor(user, 0);
        answer = module_.session().call(request);
    }
    if (!answer) return error(404, "no form " + std::to_string(request.form));
    Json reply = answerJson(request, *answer);
    int ecode = answer->outputs.ecode;
    reply["message"] = ecode == 0 ? String() : adm_ecode_text(request.form, ecode);
    return {200, reply};
}

ConsoleApi::Reply ConsoleApi::known(const std::multimap<std::string, std::string>& query) {
    auto kind = query.find("kind");
    if (kind == query.end() || query.size() != 1 || kind->second.empty())
        return error(400, "kind: give the kind to list (MESSAGE, SYSTEM, COS or SUBSCRIBER)");
    std::vector<KnownListing::Known> rows;
    FormSession::Answer refusal;
    String stuckAt;
    KnownListing::Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        RunTokenHolder token;
        outcome = KnownListing::list(module_.session(), kind->second, rows, refusal, stuckAt);
    }
    if (outcome == KnownListing::Outcome::NoForm) return error(404, "no form 1");
    if (outcome == KnownListing::Outcome::Refused)
        return error(422, adm_ecode_text(1, refusal.outputs.ecode));
    if (outcome == KnownListing::Outcome::Stuck)
        return error(500, "the listing does not advance past \"" + stuckAt + "\"");
    Json listed = Json::array();
    for (const KnownListing::Known& k : rows) listed.push_back(KnownListing::toJson(k));
    return {200, listed};
}

ConsoleApi::Reply ConsoleApi::param(const String& key,
                                    const std::multimap<std::string, std::string>& query) {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.param(key, query); });
}

ConsoleApi::Reply ConsoleApi::params(const std::multimap<std::string, std::string>& query) {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.paramList(query); });
}

ConsoleApi::Reply ConsoleApi::paramCheck(const std::multimap<std::string, std::string>& query) {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.paramCheck(query); });
}

ConsoleApi::Reply ConsoleApi::propsCheck(const std::multimap<std::string, std::string>& query) {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.propsCheck(query); });
}

ConsoleApi::Reply ConsoleApi::fixedKnown(const std::multimap<std::string, std::string>& query) {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.fixedKnown(query); });
}

ConsoleApi::Reply ConsoleApi::paramFiles() {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.paramFiles(); });
}

ConsoleApi::Reply ConsoleApi::props(const std::multimap<std::string, std::string>& query) {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.props(query); });
}

ConsoleApi::Reply ConsoleApi::history(const std::multimap<std::string, std::string>& query) {
    return inModule([&](const ApiLibraryCalls& calls) { return calls.history(query); });
}

ConsoleApi::Reply ConsoleApi::edit(const String& user, const std::string& body) {
    return inModule([&](const ApiLibraryCalls& calls) {
        JournalContext::Scope actor(user, 0);
        return calls.edit(body);
    });
}

ConsoleApi::Reply ConsoleApi::revert(const String& user, const std::string& body) {
    Json parsed = Json::parse(body, nullptr, false);
    if (!parsed.is_object()) parsed = Json{{"seq", nullptr}};
    auto seq = parsed.find("seq");
    auto flag = [&](const char* name) { return parsed.value(name, Json(false)); };
    if (seq == parsed.end() || !seq->is_number_unsigned() || seq->get<std::uint64_t>() == 0 ||
        !flag("force").is_boolean() || !flag("dry_run").is_boolean())
        return error(400,
                     "the body must be a JSON object {\"seq\":N,\"force\":false,\"dry_run\":false} "
                     "with N the number of a change");
    return inModule([&](const ApiLibraryCalls& calls) {
        JournalContext::Scope actor(user, 0);
        return calls.revert(seq->get<std::uint64_t>(), flag("force").get<bool>(),
                            flag("dry_run").get<bool>());
    });
}
