#pragma once

#include <cerrno>

#include "platform/OrvexRunToken.h"

// Runs `call` with the run token given up: other threads of the process may
// run module code meanwhile. The reasons name the blocking call and the
// return from it. The result is handed back only once the token is held
// again, so callers examine it under the token; errno is kept as the call
// left it.
template <class Call>
auto blockingCall(const char* releaseReason, const char* acquireReason, Call&& call) {
    OrvexRunToken token;
    token.release(releaseReason, false);
    auto result = call();
    int saved = errno;
    token.acquire(acquireReason);
    errno = saved;
    return result;
}
