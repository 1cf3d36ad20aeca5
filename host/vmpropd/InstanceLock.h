#pragma once

#include <sys/types.h>

#include "platform/String.h"

// Makes sure a program runs once per lock file: an exclusive flock on the
// file, held from acquire() until the object is destroyed or the process
// ends (the kernel drops it then, so a killed holder leaves no stale lock).
// The holder writes its pid into the file, so that a refused instance can
// name it. acquire() changes nothing when another process holds the lock
// (the file exists then), and never follows a symbolic link. Owns its
// descriptor; not thread-safe.
class InstanceLock {
  public:
    enum class Result {
        acquired,
        held,    // another process holds it; holder() names it when known
        failed,  // a system call failed; errno is set
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Creates the file (and its directory) when missing and locks it.
    Result acquire(const String& hostPath);
    // After `held`: the pid the holder wrote, or 0 when unreadable.
    pid_t holder() const { return holder_; }

  private:
    int fd_ = -1;
    pid_t holder_ = 0;
};
