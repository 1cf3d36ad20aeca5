#pragma once

#include <cstddef>

#include "platform/String.h"

// The console's bearer token and the file that hands it to the
// administrator. Whoever can read the file can administer the platform, so
// the file is the owner's alone (mode 0600).
class TokenFile {
  public:
    // The token in the file at path when it holds one (64 hexadecimal digits,
    // a final newline allowed) and no one but its owner may read or write it;
    // otherwise a fresh random token written there: to a temporary file of
    // mode 0600 in the same directory, then renamed over path, so no one ever
    // sees a half-written or readable token. False with the reason in error
    // when the file cannot be read or written, is open to others, or is not a
    // regular file (a link, FIFO, device or directory is refused at once,
    // never waited on).
    static bool obtain(const String& path, String& token, String& error);

    // `bytes` bytes from the kernel's random source (32 unless told) as
    // lower-case hex digits, two a byte; empty when the source fails.
    static String fresh(std::size_t bytes = 32);

  private:
    // The token the file holds, or empty (missing file, or other contents).
    // False with the reason when the file exists but is unsafe or unreadable.
    static bool read(const String& path, String& token, String& error);
    static bool write(const String& path, const String& token, String& error);
};
