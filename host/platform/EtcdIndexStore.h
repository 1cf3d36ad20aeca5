#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/platform/EtcdGateway.h"
#include "platform/BTreeIndex.h"

class EtcdIndexUrl;

// The record operations of the B-tree index service on an etcd cluster, for
// boxes on several hosts that share the class-of-service and subscriber
// indexes. The index service chooses this store or its LMDB files per
// process; this class only knows records.
//
// Layout: a record of index file P under key K is the etcd key
// "<prefix>P/<K as lowercase hex>", its value exactly the bytes the caller
// wrote (the same bytes the LMDB store keeps: change counter, then stream).
// The index itself is "<prefix>P/key_type", holding its key type in decimal;
// no record key can take that name, since hex has no 't'.
//
// Writes are fenced: the caller passes the revision of the record it read
// (0: it read none) and the write is refused when the record has changed
// since, so a second owner cannot silently undo a first one's write. A
// refused write leaves the record as it is, answers BTREE_IO_ERROR and
// lastWasStale() says so; the caller rereads and retries.
//
// Result codes are those of the index service: BTREE_OK, BTREE_NO_RECORD,
// BTREE_BAD_ARGUMENT for an empty key, BTREE_FULL for a record over the
// cluster's request limit, BTREE_IO_ERROR for a stale write, an unreachable
// cluster or one that does not answer within the deadline. lastError() gives
// the calling thread's last failure in words. Nothing throws.
class EtcdIndexStore {
  public:
    struct Record {
        std::string bytes;
        std::int64_t revision = 0;  // what a fenced write compares with; 0 when absent
        std::int64_t version = 0;   // writes since the record was created
    };

    // Passed as the revision read: write whatever is there.
    static constexpr std::int64_t kUnfenced = -1;

    // The store and its own gateway, from a parsed URL; null with the reason
    // in error when the gateway cannot be set up.
    static std::unique_ptr<EtcdIndexStore> open(const EtcdIndexUrl& url, std::string& error);
    // A store on a gateway the caller owns and keeps alive.
    EtcdIndexStore(EtcdGateway& gateway, std::string prefix);

    // Records that index P exists with its key type; an existing index keeps
    // the type it was created with.
    int createIndex(const std::string& indexPath, indx_key_t keyType);
    // The key type of index P; BTREE_NO_RECORD when there is no such index.
    int indexKeyType(const std::string& indexPath, indx_key_t& keyType);

    int read(const std::string& indexPath, std::string_view key, Record& record);
    int write(const std::string& indexPath, std::string_view key, std::string_view bytes,
              std::int64_t revisionRead);
    // BTREE_NO_RECORD when there was no record (or, fenced with revision 0,
    // none was expected).
    int remove(const std::string& indexPath, std::string_view key,
               std::int64_t revisionRead = kUnfenced);

    std::string recordKey(const std::string& indexPath, std::string_view key) const;
    EtcdGateway& gateway() { return gateway_; }

    // The calling thread's last failure of any store, in words.
    static const std::string& lastError();
    // Whether that failure was a fenced write that found a newer record.
    static bool lastWasStale();

  private:
    EtcdIndexStore(std::unique_ptr<EtcdGateway> gateway, std::string prefix);
    std::string indexKey(const std::string& indexPath) const;
    int result(const EtcdGateway::Result& outcome, const std::string& what, const std::string& key);

    std::unique_ptr<EtcdGateway> owned_;
    EtcdGateway& gateway_;
    std::string prefix_;
};
