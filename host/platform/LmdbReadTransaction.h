#pragma once

#include <lmdb.h>

// A read transaction on an LMDB environment for one call of the index
// service. Instead of ending it, the destructor resets it (mdb_txn_reset) and
// keeps it for the thread, so that the thread's next read of the same
// environment renews it rather than allocating a transaction and taking a
// reader slot in the lock file again.
//
// A thread thus holds at most one reader slot between calls, given back when
// the thread ends or reads another environment; the environment must stay
// open for the life of the process (the index service never closes one). A
// forked child never touches the transaction its parent kept: LMDB forbids
// it, and ending it would free the parent's slot.
class LmdbReadTransaction {
  public:
    // Begins (or renews) a read transaction; rc() is LMDB's result. A reader
    // table full of slots that dead processes left is cleared and tried again.
    explicit LmdbReadTransaction(MDB_env* env);
    ~LmdbReadTransaction();
    LmdbReadTransaction(const LmdbReadTransaction&) = delete;
    LmdbReadTransaction& operator=(const LmdbReadTransaction&) = delete;

    int rc() const { return rc_; }
    MDB_txn* txn() const { return txn_; }

  private:
    MDB_env* env_;
    MDB_txn* txn_ = nullptr;
    int rc_ = 0;
};
