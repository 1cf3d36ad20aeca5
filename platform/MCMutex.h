#pragma once

// The platform's mutex interface, as the run token presents it. release gives
// the mutex up and acquire takes it back; the reason texts name the call that
// is about to block and the return from it, for the platform's records.
class MCMutex {
  public:
    virtual ~MCMutex() = default;
    // Gives the mutex up. The flag is the platform's; the module passes false.
    // Returns false (and traces) when the calling thread does not hold it.
    virtual bool release(const char* reason, bool flag) = 0;
    // Takes the mutex back, blocking until it is free. Returns false (and
    // traces) when this handle has nothing to take back.
    virtual bool acquire(const char* reason) = 0;
};

// A mutex handle that remembers what it gave up, so that acquire takes back
// only what release gave.
class MCMutexTracked : public MCMutex {
  protected:
    bool released_ = false;
};
