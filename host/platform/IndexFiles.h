#pragma once

#include "platform/String.h"

// The host files of one LMDB index: the data file and LMDB's lock file
// beside it ("<data>-lock"). Remembers which of them it created, so that an
// open that fails can remove them again: a store that could not be
// initialised would read as a broken index ever after. Not thread-safe; the
// caller serialises opens.
//
// LMDB sizes its lock file with ftruncate, which reserves no storage, and
// then writes its reader table through a shared mapping of it: on a full
// file system such a write is a SIGBUS, not an error. reserveLock backs those
// pages with storage first, so that a full disk is an errno.
class IndexFiles {
  public:
    // Opens the data file, creating it with mode (under the umask) when
    // missing. False with errno set.
    bool makeData(const String& path, int mode);
    // The data file's canonical name, once known (only a created one is
    // recorded).
    void canonicalData(const String& path);
    // Opens the lock file of `dataFile` (creating it with mode when missing)
    // and reserves storage for what LMDB will write through its mapping.
    // 0, or the errno; file systems without fallocate are left as they are.
    int reserveLock(const String& dataFile, int mode);
    // Removes the files this object created; errno is kept.
    void removeMade() const;

  private:
    String data_;  // created by this object, else empty
    String lock_;
};
