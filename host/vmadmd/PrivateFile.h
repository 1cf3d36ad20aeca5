#pragma once

#include <cstddef>

#include "platform/String.h"

// A file that only its owner may read or write (mode 0600): the console's
// token file and users file, whose contents let whoever reads them in.
class PrivateFile {
  public:
    // At most `limit` bytes of the file at path into text; `exists` false
    // (and text empty) when there is no such file. False with the reason in
    // error when the file cannot be read, is open to others or owned by
    // someone else, or is not a regular file: a link, FIFO, device or
    // directory is refused at once, never waited on. `what` names the file
    // in the reason ("token file").
    static bool read(const String& path, const char* what, std::size_t limit, String& text,
                     bool& exists, String& error);

    // Replaces the file at path by text: written to a temporary file of mode
    // 0600 in the same directory, synced, then renamed over path, so no one
    // ever sees it half-written or readable by others. False with the reason
    // in error (the temporary file removed) when any step fails.
    static bool write(const String& path, const char* what, const String& text, String& error);
};
