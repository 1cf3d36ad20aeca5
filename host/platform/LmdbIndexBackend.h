#pragma once

#include "host/platform/IndexBackend.h"

// The index service's records in LMDB files on this host, one file per index
// under the platform root (see the source for the layout). Keys are at most
// LMDB's key limit (511 bytes): longer ones are BTREE_BAD_ARGUMENT. A record
// that does not fit in the map is BTREE_FULL. A fenced write compares the
// bytes the read saw with the record inside the write transaction, so no
// other writer can slip in between the check and the write.
class LmdbIndexBackend : public IndexBackend {
  public:
    int open(const Path& path, bool create, indx_key_t keyType, int flags, int mode) override;
    int close(int fd) override;
    int check(int fd, bool write, std::string_view key) override;
    int read(int fd, std::string_view key, Record& record) override;
    // True while no write transaction has committed since the read.
    bool unchangedSince(int fd, std::string_view key, const Record& record) override;
    int write(int fd, std::string_view key, std::string_view data, const Record* expected) override;
    int remove(int fd, std::string_view key, const Record* expected) override;
};
