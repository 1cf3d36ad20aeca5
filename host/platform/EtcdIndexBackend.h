#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/platform/EtcdIndexStore.h"
#include "host/platform/EtcdIndexUrl.h"
#include "host/platform/IndexBackend.h"

// The index service's records in an etcd cluster (EtcdIndexStore holds the
// layout). An index exists when its key-type key does: opening a missing one
// is errno ENOENT, creating it records the key type once. A fenced write
// compares the record's mod revision in the same transaction as the put.
// Keys are 1 to 65535 bytes; a record over the cluster's request limit is
// BTREE_FULL; no answer within the URL's timeout_ms is BTREE_IO_ERROR.
//
// The gateway's connections belong to the process that made them: a forked
// child leaves the inherited ones untouched (closing them could end the
// parent's TLS sessions) and connects anew on its first call.
class EtcdIndexBackend : public IndexBackend {
  public:
    explicit EtcdIndexBackend(EtcdIndexUrl url);

    int open(const Path& path, bool create, indx_key_t keyType, int flags, int mode) override;
    int close(int fd) override;
    int check(int fd, bool write, std::string_view key) override;
    int read(int fd, std::string_view key, Record& record) override;
    int write(int fd, std::string_view key, std::string_view data, const Record* expected) override;
    int remove(int fd, std::string_view key, const Record* expected) override;

  private:
    struct Descriptor {
        bool open = false;
        bool writable = false;
        std::string path;
    };

    // This process's store, connected when needed; null (traced) when the
    // gateway cannot be set up. Called with the mutex held.
    EtcdIndexStore* store();
    // Resolves fd into its index path and this process's store.
    int resolve(int fd, bool write, std::string_view key, std::string& path,
                EtcdIndexStore*& store);
    int failed(int rc);

    EtcdIndexUrl url_;
    std::mutex mutex_;
    pid_t pid_ = 0;
    std::unique_ptr<EtcdIndexStore> store_;
    std::vector<std::unique_ptr<EtcdIndexStore>> inherited_;  // a parent's, never used
    std::vector<Descriptor> descriptors_;
};
