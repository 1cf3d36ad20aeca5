#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <ctime>
#include <vector>

#include "platform/String.h"

// Removes the hand-off files that senders left in the platform's "/vm/tmp"
// (under the current root). A sender names its file
// "<pid>_<salt>_<counter><kind>" and deletes it once the owner answered; one
// that was killed in between never does. A file is removed when its name has
// that form with a kind of `kinds`, it is a regular file, and either its
// sender's pid is not alive and it is at least deadSenderAge old (a sender
// writes its file before it asks), or it is older than maxAge whatever the
// pid (a pid used again by another process). A file that a reader holds a
// shared flock on (HandoffFile, in this daemon or another box's) is being
// processed and stays. Other entries are never touched; a removed hard link
// takes only its own name.
//
// The same sweep removes the files of large property values ("<pid>_<salt>_
// <counter>.p") whose process is gone: a value's file lives as long as its
// value, which a process may hold for days, so age alone never removes one;
// but a file older than the process now bearing its pid belongs to an
// earlier process of that pid, and goes too.
//
// Run by vmpropd at start-up and then every `interval`, and by "vmcfg sweep"
// on hosts where no box runs vmpropd.
//
// Host system calls only; blocks only on the directory and on file status.
// A failure to read the directory or to remove a file is traced and skipped.
class HandoffSweep {
  public:
    // A file the sweep removed (or, dry, would remove).
    struct Removal {
        String name;  // the entry's name in "/vm/tmp"
        off_t bytes;
        pid_t pid;   // the sender's, or the value's owner's
        bool value;  // a value file, else a hand-off file
        bool gone;   // its process is gone; else it is a hand-off file too old
    };

    static constexpr std::chrono::seconds deadSenderAge{10};
    static constexpr std::chrono::hours maxAge{1};
    // How often a running daemon sweeps.
    static constexpr std::chrono::seconds interval{60};

    explicit HandoffSweep(std::vector<String> kinds) : kinds_(std::move(kinds)) {}

    // Sweeps once; returns the files removed, each also traced at level 1.
    // dry: removes nothing and returns what would have been removed (a file
    // being read is left out, as the sweep would leave it). now: the clock
    // the files' ages are measured against (seconds since the epoch); a
    // process's liveness and start are always the system's.
    std::vector<Removal> run(bool dry = false) const { return run(dry, std::time(nullptr)); }
    std::vector<Removal> run(bool dry, std::time_t now) const;
    // The sender's pid when `name` is a hand-off file name of one of the
    // kinds, else 0.
    pid_t senderOf(const String& name) const;
    // The owner's pid when `name` is a value file's name, else 0.
    static pid_t valueOwnerOf(const String& name);

  private:
    // Removes `name` in dirFd if it is a left-over (dry: only tells);
    // appends it to `removed` when it went (or would go).
    void sweep(int dirFd, const String& name, pid_t sender, bool value, bool dry, std::time_t now,
               std::vector<Removal>& removed) const;

    std::vector<String> kinds_;
};
