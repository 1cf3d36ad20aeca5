#pragma once

#include "platform/Path.h"

// An exclusive fcntl lock on a lock file, held from construction until
// destruction. vmcfg takes one per B-tree set around its read-change-save
// cycle: the owner replaces a whole record with the set it is handed, so two
// vmcfg edits that read the same record would otherwise drop one another's
// change. The lock orders vmcfg edits of one set among themselves only;
// platform processes do not take it. The lock file (created with its
// directory when missing) stays: removing it could let a waiter lock a file
// that a newcomer no longer sees.
class EditLock {
  public:
    // Waits for the lock.
    explicit EditLock(const Path& lockFile);
    ~EditLock();
    EditLock(const EditLock&) = delete;
    EditLock& operator=(const EditLock&) = delete;

    bool held() const { return held_; }
    // errno of the failed open or lock call.
    int error() const { return error_; }

  private:
    int fd_ = -1;
    bool held_ = false;
    int error_ = 0;
};
