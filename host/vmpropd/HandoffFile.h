#pragma once

#include <sys/types.h>

#include <string_view>

#include "platform/String.h"

// Reads the hand-off file a peer names in an update request. The peer is not
// trusted: the file must resolve (symbolic links followed, "." and ".."
// applied) to an entry directly in the platform's "/vm/tmp" under the
// current root, which is where senders put their hand-off files, and must be
// a regular file of at most maxSize bytes with no other name (a hard link
// would let a peer have the daemon read a file it cannot read itself). The final open does not
// follow a link and does not wait for a writer, so a path swapped for a link or a FIFO after the
// check is refused instead of read.
//
// Host system calls only, no module code: callable without the run token.
// Holds a shared flock on the file while it reads it (see HandoffSweep).
// Blocks only on local file reads.
class HandoffFile {
  public:
    static constexpr off_t maxSize = off_t{64} << 20;

    // Returns 0 with the file's bytes in `contents`, or an errno:
    //   ENOENT  the path or "/vm/tmp" does not exist (or a part of it);
    //   EACCES  the path resolves outside "/vm/tmp", or below a subdirectory;
    //   EINVAL  not a regular file;
    //   EMLINK  the file has another name (a hard link);
    //   EFBIG   larger than maxSize;
    //   EAGAIN  another process holds an exclusive flock on it for 100 ms;
    //   ELOOP   the entry became a symbolic link after it was resolved;
    //   otherwise the errno of the failing call (realpath, open, read).
    static int read(const String& platformPath, String& contents);

    // Writes the bytes of a hand-off that came from another host into
    // "/vm/tmp" under a sender's name of this process, "<pid>_<salt>_<n><kind>":
    // first under a temporary name of that form, then renamed, so the final
    // name never shows a partial file, and what a killed daemon leaves is
    // swept like any sender's left-over. Returns 0 with the final platform
    // path in `platformPath`, or an errno (EFBIG over maxSize; that of the
    // failing call). The caller removes the file once it has been applied.
    static int store(std::string_view bytes, const String& kind, String& platformPath);

  private:
    // The open descriptor of the checked entry, or -errno.
    static int openChecked(const String& platformPath);
    static int readAll(int fd, off_t size, String& contents);
    // Takes a shared flock, waiting at most 100 ms; 0 or an errno.
    static int lockShared(int fd);
    // The checks and the read once the lock is held; 0 or an errno.
    static int readLocked(int fd, String& contents);
};
