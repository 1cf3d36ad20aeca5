#pragma once

#include <sys/stat.h>

#include "platform/String.h"

// stat(2) inside the platform root for files that are asked about again and
// again only to learn whether they changed (a kind's defaults file before
// every request). The first answer for a path is looked up as
// RootResolver::stat looks it up; later ones are given again from memory for
// as long as inotify reports no change to the file (through any of its
// names: the file is watched itself) or to any directory on the way to it:
// nothing created, removed, moved, written or given new attributes there. A
// change seen drops the answers it may touch, and the next call looks again.
// A change another process made before this call began is always seen: the
// kernel raises a flag in memory shared with this process (ReadyFlag) from
// within the system call that queues the event, so a call that finds the
// flag down makes no system call at all, and one that finds it up reads the
// queue. Without io_uring every call reads the queue.
//
// Answers are only kept for paths whose every component is a plain
// directory or file on a local file system (ext4, xfs, btrfs, tmpfs,
// overlayfs and the like): a link on the way is followed by the lookup, and
// its target's changes would not be reported, and a network file system
// changes without this kernel knowing; such paths are looked up every time.
// A file system mounted over a directory on the way is not seen either (a
// configuration tree is written in place or replaced by rename, and seen).
//
// Answers belong to the platform root they were found in: when the root is
// set anew, they are all dropped.
//
// Without inotify (no instance left for this user) every call is a lookup.
// A forked child starts with no answers and an instance of its own. Safe from
// any thread; calls are serialised.
class StatWatch {
  public:
    // `path` is a platform path, normalised (HostPlatform::normalPath) when
    // it is looked up; answers are kept by the path as given, so that a
    // kept one costs no normalising. The result and errno are those of
    // RootResolver::stat (access times aside, which a kept answer does not
    // follow).
    static int stat(const String& path, struct stat* info);
};
