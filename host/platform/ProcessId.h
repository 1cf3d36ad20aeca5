#pragma once

#include <sys/types.h>

// This process's id without a system call per ask. Code that must notice a
// fork (a journal connection, a pool of kept connections, an index store
// inherited from the parent) compares a remembered id with current() on
// every call; on a virtual machine a getpid() costs about a microsecond,
// several times per save.
//
// The id is read once and read again in the child of every fork(): a
// pthread_atfork handler renews it before the child's own code runs. A
// child made without fork's handlers (clone, vfork, posix_spawn) must exec
// or exit before it calls into the platform. Safe from any thread.
class ProcessId {
  public:
    static pid_t current();
};
