#pragma once

#include <sys/stat.h>

#include "platform/Path.h"

// One property file opened and locked as the file its path names now.
//
// Writers replace a property file by renaming a new file over its path, so a
// process that waited for a lock on the old file would otherwise go on with
// contents nobody will see again. open() therefore checks, once the lock is
// held, that the locked descriptor still names the path, and starts again on
// the new file when it does not.
//
// The lock is a POSIX record lock on the whole file, waited for with the run
// token given up. Such locks belong to the process: closing any descriptor of
// the file drops them, so while a LockedFile is open nothing else in the
// process may open and close that file (look at it with stat/access only).
// The destructor closes the descriptor, which drops the lock.
class LockedFile {
  public:
    enum Mode { Shared, Exclusive };
    enum Outcome {
        LOCKED,       // open, locked, and still the file the path names
        UNLOCKED,     // open, but the lock call failed (see lockError())
        MISSING,      // Shared only: no file at the path (or it vanished)
        OPEN_FAILED,  // the file could not be opened (errno tells why)
        NOT_REGULAR   // a directory, FIFO or device: never a property file
    };

    LockedFile() = default;
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Shared: opens an existing file for reading. Exclusive: opens it for
    // reading and writing (writing only, when it may not be read), creating
    // it (mode 0664) when missing. The open never waits
    // for a FIFO's writer, and nothing but a regular file is locked. `releaseReason` and
    // `acquireReason` name the wait for the run token.
    Outcome open(const Path& path, Mode mode, const char* releaseReason, const char* acquireReason);
    void close();

    int fd() const { return fd_; }
    // The open file's status as fstat saw it after locking.
    const struct stat& info() const { return info_; }
    // errno of the failed lock call (UNLOCKED).
    int lockError() const { return lockError_; }
    // Exclusive: whether this open created the file (it did not exist).
    bool created() const { return created_; }

  private:
    int fd_ = -1;
    struct stat info_ {};
    int lockError_ = 0;
    bool created_ = false;
};
