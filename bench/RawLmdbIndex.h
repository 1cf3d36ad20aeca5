#pragma once

// The raw anchor of the B-tree benchmarks: an LMDB environment of the
// benchmark's own beside the module's index, put and got with bare LMDB calls.

#include <lmdb.h>

#include <cstdint>
#include <string_view>

#include "host/platform/HostPlatform.h"
#include "platform/FileSystem.h"
#include "platform/String.h"

// The records sit in LMDB's main database, as the index's do.
struct RawIndex {
    MDB_env* env = nullptr;
    MDB_dbi dbi = 0;
    explicit RawIndex(const String& file) {
        mdb_env_create(&env);
        mdb_env_set_maxdbs(env, 2);
        mdb_env_set_mapsize(env, std::size_t(1) << 32);
        mdb_env_open(env, file.c_str(), MDB_NOSUBDIR | MDB_NOTLS, 0664);
        MDB_txn* txn;
        mdb_txn_begin(env, nullptr, 0, &txn);
        mdb_dbi_open(txn, nullptr, 0, &dbi);
        mdb_txn_commit(txn);
    }
    ~RawIndex() { mdb_env_close(env); }
    // expected: the write goes only when the record still holds these bytes
    // (nullptr: unconditionally).
    bool put(std::uint32_t key, const String& bytes, const String* expected = nullptr) {
        MDB_txn* txn;
        if (mdb_txn_begin(env, nullptr, 0, &txn) != 0) return false;
        MDB_val k{sizeof key, &key}, v{bytes.size(), const_cast<char*>(bytes.data())}, held;
        if (expected && mdb_get(txn, dbi, &k, &held) == 0 &&
            std::string_view(static_cast<const char*>(held.mv_data), held.mv_size) != *expected)
            return mdb_txn_abort(txn), false;
        if (mdb_put(txn, dbi, &k, &v, 0) != 0) return mdb_txn_abort(txn), false;
        return mdb_txn_commit(txn) == 0;
    }
    std::size_t get(std::uint32_t key, String& out) {
        MDB_txn* txn;
        mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn);
        MDB_val k{sizeof key, &key}, v;
        std::size_t size = mdb_get(txn, dbi, &k, &v) == 0 ? v.mv_size : 0;
        out.assign(static_cast<const char*>(v.mv_data), size);
        mdb_txn_abort(txn);
        return size;
    }
};

// The benchmark's raw index (replay: a second one, for the replay of the
// store's calls, so that its records do not share the anchor's pages), made
// on first use.
inline RawIndex& rawIndex(bool replay = false) {
    static RawIndex* indexes[2] = {};
    if (indexes[replay] == nullptr) {
        FileSystem::makeDirectories("/VM/orvex/sd/sdata");
        indexes[replay] = new RawIndex(HostPlatform::hostPath(
            replay ? "/VM/orvex/sd/sdata/bench_replay" : "/VM/orvex/sd/sdata/bench_raw"));
    }
    return *indexes[replay];
}
