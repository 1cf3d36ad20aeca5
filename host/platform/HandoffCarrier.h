#pragma once

#include <sys/types.h>

#include <cstddef>

#include "platform/String.h"

// What a remote property update (opcode 39169) must carry when it leaves
// the host: the hand-off file it names lives in this host's "/vm/tmp",
// which the owner on another host cannot read, so the request travels with
// the file's bytes after its 3080-byte body. The update's layout is fixed by
// the module (Rsc_id, then the key, the hand-off path and the factory name,
// 1024 bytes each).
//
// Reads the file as the local sender wrote it, through the platform root;
// blocks on local file reads only. Thread-safe (no state).
class HandoffCarrier {
  public:
    static constexpr int updateOpcode = 39169;
    static constexpr std::size_t updateLength = 3080;
    static constexpr off_t maxSize = off_t{64} << 20;

    // Whether a request with this opcode and body length carries a file.
    static bool carries(int opcode, std::size_t length);
    // The bytes of the file the update names: 0, or an errno (ENOENT,
    // EINVAL not a regular file or no path, EFBIG larger than maxSize, or
    // that of the failing open or read).
    static int read(const char* body, String& bytes);
};
