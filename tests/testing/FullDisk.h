#pragma once

#include <functional>

#include "platform/Path.h"
#include "platform/String.h"

// Runs code against a really full file system: in a forked child, a platform
// directory is covered by a small tmpfs filled to its last page. The mount
// lives in the child's own mount namespace and goes away with it, so the
// test's process and root are left as they were. Needs the right to unshare
// and mount (root); without it the outcome says why and nothing runs.
class FullDisk {
  public:
    struct Outcome {
        String skipped;  // why the full disk could not be made; empty when it ran
        int signal = 0;  // the signal that ended the child, 0 when it exited
        String report;   // what the code returned
    };

    // Mounts the tmpfs over `directory` (made when missing), fills it and
    // returns what `code` reports. Waits for the child.
    static Outcome run(const Path& directory, const std::function<String()>& code);
};
