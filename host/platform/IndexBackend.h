#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/BTreeIndex.h"
#include "platform/Path.h"

// Where the B-tree index service keeps its records: LMDB files on this host
// or an etcd cluster shared by several hosts. A process uses one backend,
// chosen on its first index call from $VM_INDEX:
//   unset, empty or "lmdb"   LMDB files under the platform root (the default)
//   etcd://HOST:PORT[,...][?prefix=...&timeout_ms=...&tls=DIR]
// Anything else is refused in words: no index call then succeeds (opens fail
// with errno EINVAL and a level-1 trace), nothing falls back to LMDB behind
// the operator's back.
//
// A backend numbers its own descriptors; the index service maps the
// platform's descriptors onto them, so a descriptor keeps the backend it was
// opened on. Every call answers a BTreeIndexResult and traces its failures at
// level 1. Backends live as long as the process. A forked child may go on
// using them: each reconnects (LMDB: reopens its environments) on first use.
class IndexBackend {
  public:
    // One record as a read saw it, and what a fenced write compares with.
    struct Record {
        bool found = false;
        std::string bytes;
        // etcd: the record's mod revision; LMDB: the transaction read from
        std::int64_t revision = 0;
    };

    virtual ~IndexBackend() = default;

    // A descriptor of the backend, or -1 with errno set (ENOENT: no such
    // index, and create is false).
    virtual int open(const Path& path, bool create, indx_key_t keyType, int flags, int mode) = 0;
    virtual int close(int fd) = 0;
    // Checks the descriptor, the right to write and the key, in that order.
    virtual int check(int fd, bool write, std::string_view key) = 0;
    // BTREE_NO_RECORD (record.found false) when there is none.
    virtual int read(int fd, std::string_view key, Record& record) = 0;
    // Whether `record`, which a read of key through fd filled, is for sure
    // still what the index holds, told without reading the record again.
    // False when the backend cannot tell so cheaply (etcd), or when a fault
    // is armed, so that an injected read failure is not skipped.
    virtual bool unchangedSince(int fd, std::string_view key, const Record& record);
    // Replaces the record; with expected, only while the record is still the
    // one expected describes. A record changed since then is left alone: the
    // answer is BTREE_IO_ERROR with errno ESTALE, traced naming the key.
    virtual int write(int fd, std::string_view key, std::string_view data,
                      const Record* expected) = 0;
    // Deletes the record (BTREE_NO_RECORD when there is none); with expected,
    // fenced as write is.
    virtual int remove(int fd, std::string_view key, const Record* expected) = 0;

    // This process's backend; null with the reason in error when $VM_INDEX
    // names none.
    static IndexBackend* current(std::string& error);
    // Reads $VM_INDEX again at the next call; descriptors already open keep
    // their backend. For tests that run both backends in one process.
    static void chooseAgain();

    // Why this thread's last failed open or create of an index failed, in
    // words (the cluster's answer, not only an errno that later calls may
    // overwrite); empty after one that succeeded. `error`, when given,
    // receives that open's errno.
    static const std::string& lastOpenError(int* error = nullptr);
    // Records the reason for the open under way; the index service fills in
    // strerror(errno) when a backend gives none, and the errno.
    static void noteOpenError(std::string reason, int error = 0);
};
