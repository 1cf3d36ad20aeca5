#include "host/platform/EtcdIndexStore.h"

#include <cstdlib>

#include "host/platform/EtcdIndexUrl.h"
#include "host/platform/HexText.h"

namespace {

struct Failure {
    std::string message;
    bool stale = false;
};

// Like errno: each thread sees its own last failure.
thread_local Failure lastFailure;

constexpr char kKeyTypeName[] = "key_type";

// Index paths are platform paths; one without its leading "/" still lands
// under the prefix as a path.
std::string joined(const std::string& prefix, const std::string& indexPath) {
    if (!indexPath.empty() && indexPath.front() == '/') return prefix + indexPath;
    return prefix + "/" + indexPath;
}

int badArgument(const char* what) {
    lastFailure = {what, false};
    return BTREE_BAD_ARGUMENT;
}

bool badKey(std::string_view key) {
    return key.empty() || key.size() > 65535;
}

}  // namespace

std::unique_ptr<EtcdIndexStore> EtcdIndexStore::open(const EtcdIndexUrl& url, std::string& error) {
    EtcdGateway::Options options = url.gatewayOptions();
    std::unique_ptr<EtcdGateway> gateway = EtcdGateway::open(options, error);
    if (!gateway) return nullptr;
    return std::unique_ptr<EtcdIndexStore>(new EtcdIndexStore(std::move(gateway), url.prefix()));
}

EtcdIndexStore::EtcdIndexStore(EtcdGateway& gateway, std::string prefix)
    : gateway_(gateway), prefix_(std::move(prefix)) {}

EtcdIndexStore::EtcdIndexStore(std::unique_ptr<EtcdGateway> gateway, std::string prefix)
    : owned_(std::move(gateway)), gateway_(*owned_), prefix_(std::move(prefix)) {}

std::string EtcdIndexStore::recordKey(const std::string& indexPath, std::string_view key) const {
    return joined(prefix_, indexPath) + "/" + hexBytes(key);
}

std::string EtcdIndexStore::indexKey(const std::string& indexPath) const {
    return joined(prefix_, indexPath) + "/" + kKeyTypeName;
}

const std::string& EtcdIndexStore::lastError() {
    return lastFailure.message;
}

bool EtcdIndexStore::lastWasStale() {
    return lastFailure.stale;
}

int EtcdIndexStore::result(const EtcdGateway::Result& outcome, const std::string& what,
                           const std::string& key) {
    using Outcome = EtcdGateway::Outcome;
    if (outcome.outcome == Outcome::Ok) return BTREE_OK;
    if (outcome.outcome == Outcome::NotFound) return BTREE_NO_RECORD;
    lastFailure = {"etcd index " + what + " of " + key + ": " + outcome.message,
                   outcome.outcome == Outcome::Stale};
    return outcome.outcome == Outcome::TooLarge ? BTREE_FULL : BTREE_IO_ERROR;
}

int EtcdIndexStore::createIndex(const std::string& indexPath, indx_key_t keyType) {
    std::string key = indexKey(indexPath);
    // Revision 0: only when no one has created it yet; a Stale answer means
    // another process did, and its key type stays.
    EtcdGateway::Result r = gateway_.putIfRevision(key, std::to_string(keyType), 0);
    if (r.outcome == EtcdGateway::Outcome::Stale) return BTREE_OK;
    return result(r, "create", key);
}

int EtcdIndexStore::indexKeyType(const std::string& indexPath, indx_key_t& keyType) {
    std::string key = indexKey(indexPath);
    EtcdGateway::Record record;
    int rc = result(gateway_.get(key, record), "open", key);
    if (rc != BTREE_OK) return rc;
    char* end = nullptr;
    long type = std::strtol(record.value.c_str(), &end, 10);
    if (record.value.empty() || *end != '\0') {
        lastFailure = {"etcd index " + key + " holds no key type: \"" + record.value + "\"", false};
        return BTREE_IO_ERROR;
    }
    keyType = static_cast<indx_key_t>(type);
    return BTREE_OK;
}

int EtcdIndexStore::read(const std::string& indexPath, std::string_view key, Record& record) {
    if (badKey(key)) return badArgument("a record key is 1 to 65535 bytes");
    std::string name = recordKey(indexPath, key);
    EtcdGateway::Record found;
    int rc = result(gateway_.get(name, found), "read", name);
    if (rc == BTREE_OK) {
        record.bytes = std::move(found.value);
        record.revision = found.modRevision;
        record.version = found.version;
    } else {
        record = Record{};
    }
    return rc;
}

int EtcdIndexStore::write(const std::string& indexPath, std::string_view key,
                          std::string_view bytes, std::int64_t revisionRead) {
    if (badKey(key)) return badArgument("a record key is 1 to 65535 bytes");
    if (revisionRead < kUnfenced) return badArgument("a revision read is 0 or more");
    std::string name = recordKey(indexPath, key);
    std::string value(bytes);
    EtcdGateway::Result r = revisionRead == kUnfenced
                                ? gateway_.put(name, value)
                                : gateway_.putIfRevision(name, value, revisionRead);
    return result(r, "write", name);
}

int EtcdIndexStore::remove(const std::string& indexPath, std::string_view key,
                           std::int64_t revisionRead) {
    if (badKey(key)) return badArgument("a record key is 1 to 65535 bytes");
    if (revisionRead < kUnfenced) return badArgument("a revision read is 0 or more");
    std::string name = recordKey(indexPath, key);
    EtcdGateway::Result r = revisionRead == kUnfenced
                                ? gateway_.remove(name)
                                : gateway_.removeIfRevision(name, revisionRead);
    return result(r, "delete", name);
}
