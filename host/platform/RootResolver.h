#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/String.h"

// Finds files under the platform root the way a process chrooted to the root
// would: an absolute link target starts again at the root, ".." never climbs
// above it, and this holds for every component of a path, not only the last.
// No call here reads, writes or creates anything outside the root.
//
// Paths given here are normalised platform paths (HostPlatform::normalPath).
// Where the kernel has openat2, RESOLVE_IN_ROOT does the walk; elsewhere (or
// when forced, for tests) the path is walked one component at a time from a
// descriptor of the root, reading each link and bounded at 40 links (ELOOP).
// A root of "/" is the host itself, so its lookups are the kernel's plain
// ones. The root's descriptor is opened once and kept while the root's path
// stays the same; a root deleted and made again is opened afresh when a
// lookup in the old one fails, but a root renamed away stays the process's
// root until it exits. Every call is safe from any thread.
class RootResolver {
  public:
    // open(2) of the file the path names inside the root. -1 with errno on
    // failure; the caller owns the descriptor (O_CLOEXEC is always set).
    static int open(const String& path, int flags, mode_t mode = 0);
    // stat(2) of the file the path names inside the root, links followed.
    static int stat(const String& path, struct stat* info);
    // The platform path of the file `path` leads to once every link on the
    // way and at the end is followed: no component of the answer is a link.
    // Components from the first missing one on are kept as named. Returns 0,
    // or the errno that stopped the walk (then `resolved` is the part walked
    // so far followed by the rest as named; for ELOOP the rest is dropped).
    static int resolve(const String& path, String& resolved);
    // Uses the component walk even where openat2 exists, so that tests can
    // compare the two on the same paths.
    static void forceWalk(bool on);
};
