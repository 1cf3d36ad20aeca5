#pragma once

#include "platform/MCMutex.h"

// A handle on the process run token: the token that a thread of a platform
// process holds while module code runs. Constructed on the stack around one
// blocking call (see blockingCall). Misuse (release by a thread that does not
// hold the token, acquire without a release) is traced at level 1 and
// otherwise ignored. A handle destroyed after release without acquire takes
// the token back, so the thread never leaves holding less than it came with.
class OrvexRunToken : public MCMutexTracked {
  public:
    OrvexRunToken() = default;
    ~OrvexRunToken() override;
    OrvexRunToken(const OrvexRunToken&) = delete;
    OrvexRunToken& operator=(const OrvexRunToken&) = delete;

    bool release(const char* reason, bool flag) override;
    bool acquire(const char* reason) override;
};
