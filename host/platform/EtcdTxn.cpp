#include "host/platform/EtcdTxn.h"

#include "host/platform/Base64Text.h"

using nlohmann::json;

EtcdTxn& EtcdTxn::guard(const std::string& key, const char* target, const char* field,
                        const char* result, std::int64_t value) {
    compare_.push_back({{"key", base64Of(key)},
                        {"target", target},
                        {"result", result},
                        {field, std::to_string(value)}});
    return *this;
}

EtcdTxn& EtcdTxn::ifModRevision(const std::string& key, std::int64_t revision) {
    return guard(key, "MOD", "mod_revision", "EQUAL", revision);
}

EtcdTxn& EtcdTxn::ifCreateRevision(const std::string& key, std::int64_t revision) {
    return guard(key, "CREATE", "create_revision", "EQUAL", revision);
}

EtcdTxn& EtcdTxn::ifExists(const std::string& key) {
    return guard(key, "VERSION", "version", "GREATER", 0);
}

EtcdTxn& EtcdTxn::put(const std::string& key, const std::string& value) {
    json op;
    op["request_put"] = {{"key", base64Of(key)}, {"value", base64Of(value)}};
    success_.push_back(std::move(op));
    return *this;
}

EtcdTxn& EtcdTxn::remove(const std::string& key) {
    json op;
    op["request_delete_range"] = {{"key", base64Of(key)}};
    success_.push_back(std::move(op));
    return *this;
}

EtcdTxn& EtcdTxn::read(const std::string& key, bool keysOnly) {
    json op;
    op["request_range"] = {{"key", base64Of(key)}, {"keys_only", keysOnly}};
    success_.push_back(std::move(op));
    return *this;
}

EtcdTxn& EtcdTxn::readRange(const std::string& from, const std::string& to, long limit) {
    json op;
    op["request_range"] = {{"key", base64Of(from)}, {"range_end", base64Of(to)}, {"limit", limit}};
    success_.push_back(std::move(op));
    return *this;
}

EtcdTxn& EtcdTxn::orRead(const std::string& key) {
    json op;
    op["request_range"] = {{"key", base64Of(key)}};
    failure_.push_back(std::move(op));
    return *this;
}

std::string EtcdTxn::body() const {
    json txn;
    if (!compare_.empty()) txn["compare"] = compare_;
    txn["success"] = success_;
    if (!failure_.empty()) txn["failure"] = failure_;
    return txn.dump();
}

bool EtcdTxn::succeeded(const json& answer) {
    auto found = answer.find("succeeded");
    return found != answer.end() && found->is_boolean() && found->get<bool>();
}

namespace {

// The answer of the operation at position `at` under its name, or null.
const json* response(const json& answer, std::size_t at, const char* name) {
    auto responses = answer.find("responses");
    if (responses == answer.end() || !responses->is_array() || at >= responses->size())
        return nullptr;
    const json& one = (*responses)[at];
    auto inner = one.find(name);
    return inner != one.end() && inner->is_object() ? &*inner : nullptr;
}

}  // namespace

json EtcdTxn::found(const json& answer, std::size_t at) {
    const json* range = response(answer, at, "response_range");
    if (range == nullptr) return json::array();
    auto kvs = range->find("kvs");
    return kvs != range->end() && kvs->is_array() ? *kvs : json::array();
}

long EtcdTxn::deleted(const json& answer) {
    long count = 0;
    auto responses = answer.find("responses");
    std::size_t size = responses != answer.end() && responses->is_array() ? responses->size() : 0;
    for (std::size_t at = 0; at < size; ++at)
        if (const json* removal = response(answer, at, "response_delete_range"))
            count += static_cast<long>(number(*removal, "deleted"));
    return count;
}

std::string EtcdTxn::text(const json& object, const char* name) {
    if (!object.is_object()) return std::string();
    auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::int64_t EtcdTxn::number(const json& object, const char* name) {
    if (!object.is_object()) return 0;
    auto found = object.find(name);
    if (found == object.end()) return 0;
    if (found->is_number_integer()) return found->get<std::int64_t>();
    if (!found->is_string()) return 0;
    try {
        return std::stoll(found->get<std::string>());
    } catch (...) {
        return 0;
    }
}
