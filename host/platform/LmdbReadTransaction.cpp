#include "host/platform/LmdbReadTransaction.h"

#include <sys/types.h>

#include "host/platform/ProcessId.h"

namespace {

// The thread's reset transaction, if any, and whose it is.
struct Kept {
    MDB_txn* txn = nullptr;
    MDB_env* env = nullptr;
    pid_t pid = 0;

    bool ours() const { return txn != nullptr && pid == ProcessId::current(); }
    MDB_txn* take(MDB_env* wanted) {
        if (!ours() || env != wanted) return nullptr;
        MDB_txn* taken = txn;
        txn = nullptr;
        return taken;
    }
    void keep(MDB_txn* reset, MDB_env* of) {
        if (ours()) mdb_txn_abort(txn);
        txn = reset;
        env = of;
        pid = ProcessId::current();
    }
    ~Kept() {
        if (ours()) mdb_txn_abort(txn);
    }
};

thread_local Kept kept;

int begin(MDB_env* env, MDB_txn** txn) {
    int rc = mdb_txn_begin(env, nullptr, MDB_RDONLY, txn);
    if (rc != MDB_READERS_FULL) return rc;
    int dead = 0;
    if (mdb_reader_check(env, &dead) != 0 || dead == 0) return rc;
    return mdb_txn_begin(env, nullptr, MDB_RDONLY, txn);
}

}  // namespace

LmdbReadTransaction::LmdbReadTransaction(MDB_env* env) : env_(env) {
    if (MDB_txn* reused = kept.take(env)) {
        if (mdb_txn_renew(reused) == 0) {
            txn_ = reused;
            return;
        }
        mdb_txn_abort(reused);
    }
    rc_ = begin(env, &txn_);
    if (rc_ != 0) txn_ = nullptr;
}

LmdbReadTransaction::~LmdbReadTransaction() {
    if (txn_ == nullptr) return;
    mdb_txn_reset(txn_);
    kept.keep(txn_, env_);
}
