#pragma once

#include <liburing.h>
#include <sys/types.h>

// Tells whether a descriptor may have become readable, without a system call
// while it has not. An io_uring poll request waits on the descriptor; the
// ring is made so that the kernel marks it in shared memory (the task-run
// flag) from within the system call that makes the descriptor readable, or
// posts the completion there outright. A look at the ring's memory thus
// sees any change that happened before the look began, whichever process
// or thread made it. (io_uring_setup(2) gives the flag for this use: it
// makes a look at the completion ring, without entering the kernel, safe.)
//
// raised() is true until settle() has collected the fired request and armed
// a new one; the caller settles first and then empties the descriptor, so
// that nothing written between the two goes unseen. Where io_uring cannot be
// had (an old kernel, io_uring disabled or filtered out), the flag is always
// raised and the caller reads the descriptor every time, as it would without
// the flag.
//
// The request belongs to the thread that armed it, whose next entry into the
// kernel posts its completion. When another thread settles a flag raised for
// a request it does not own, the ring is made anew, since the owner may not
// enter the kernel for a long time.
//
// Not safe for concurrent use: the caller serialises. The descriptor is
// the caller's, and must stay open while it is watched.
class ReadyFlag {
  public:
    ReadyFlag() = default;
    ~ReadyFlag() { stop(); }
    ReadyFlag(const ReadyFlag&) = delete;
    ReadyFlag& operator=(const ReadyFlag&) = delete;

    // Starts watching `fd`, dropping any earlier watch. False when io_uring
    // cannot be used: the flag then stays raised.
    bool watch(int fd);
    // True when the descriptor may be readable: the poll fired, or it is
    // not armed. Makes no system call.
    bool raised() const;
    // Collects a fired poll and arms a new one (a few system calls). Call it
    // when raised(), before emptying the descriptor.
    void settle();
    // Stops watching; the ring and its request go with it.
    void stop();
    // In a forked child: lets go of the parent's ring without touching the
    // parent's request (the child's copy of the mapping and descriptor only).
    void forget() { stop(); }

  private:
    bool arm();
    bool collect();

    io_uring ring_{};
    int fd_ = -1;
    bool on_ = false;     // ring_ is set up
    bool armed_ = false;  // a poll request is in flight
    pid_t owner_ = 0;     // the thread that armed it
};
