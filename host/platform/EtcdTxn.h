#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

// The body of one etcd v3 transaction as the JSON gateway takes it
// (POST /v3/kv/txn): guards that must all hold, then the operations made,
// in order and at one revision, when they do, and the reads made when they
// do not. Keys
// and values are any bytes; they travel as base64. The static readers take
// the gateway's answer apart, reading absent fields as zero (etcd leaves
// them out) and never throwing.
class EtcdTxn {
  public:
    // Guards. A key that does not exist has revisions and version 0.
    EtcdTxn& ifModRevision(const std::string& key, std::int64_t revision);
    EtcdTxn& ifCreateRevision(const std::string& key, std::int64_t revision);
    EtcdTxn& ifExists(const std::string& key);

    EtcdTxn& put(const std::string& key, const std::string& value);
    EtcdTxn& remove(const std::string& key);
    EtcdTxn& read(const std::string& key, bool keysOnly);
    // The keys from `from` up to `to` (excluded), limit of them at most.
    EtcdTxn& readRange(const std::string& from, const std::string& to, long limit);
    // Made instead of the operations above when a guard fails.
    EtcdTxn& orRead(const std::string& key);

    std::string body() const;

    // Whether the guards held.
    static bool succeeded(const nlohmann::json& answer);
    // The key-value pairs that the read at position `at` (of the branch
    // that ran) found.
    static nlohmann::json found(const nlohmann::json& answer, std::size_t at);
    // How many keys the removals deleted, all together.
    static long deleted(const nlohmann::json& answer);
    // A text field; empty when absent or not text.
    static std::string text(const nlohmann::json& object, const char* name);
    // A 64-bit number field, which etcd writes as a JSON string.
    static std::int64_t number(const nlohmann::json& object, const char* name);

  private:
    EtcdTxn& guard(const std::string& key, const char* target, const char* field,
                   const char* result, std::int64_t value);

    nlohmann::json compare_ = nlohmann::json::array();
    nlohmann::json success_ = nlohmann::json::array();
    nlohmann::json failure_ = nlohmann::json::array();
};
