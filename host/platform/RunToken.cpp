// The run token of the stand-in: one process-wide mutex with its holder.

#include <atomic>
#include <mutex>
#include <thread>

#include "host/platform/RunTokenHolder.h"
#include "platform/OrvexRunToken.h"
#include "platform/TraceService.h"

namespace {

struct Token {
    std::mutex mutex;
    std::atomic<std::thread::id> holder{};
};

Token& token() {
    static Token* t = new Token;
    return *t;
}

void take() {
    token().mutex.lock();
    token().holder = std::this_thread::get_id();
}

void give() {
    token().holder = std::thread::id();
    token().mutex.unlock();
}

}  // namespace

RunTokenHolder::RunTokenHolder() {
    take();
}
RunTokenHolder::~RunTokenHolder() {
    give();
}

bool RunTokenHolder::heldByCurrentThread() {
    return token().holder.load() == std::this_thread::get_id();
}

bool OrvexRunToken::release(const char* reason, bool) {
    if (released_ || !RunTokenHolder::heldByCurrentThread()) {
        MC_std_trace() << "OrvexRunToken::release(" << reason
                       << ") - run token not held by this thread";
        TraceManip(MC_std_trace(), 1, true);
        return false;
    }
    give();
    released_ = true;
    return true;
}

bool OrvexRunToken::acquire(const char* reason) {
    if (!released_) {
        MC_std_trace() << "OrvexRunToken::acquire(" << reason
                       << ") - nothing released through this handle";
        TraceManip(MC_std_trace(), 1, true);
        return false;
    }
    take();
    released_ = false;
    return true;
}

OrvexRunToken::~OrvexRunToken() {
    if (released_) acquire("~OrvexRunToken: taking back the run token");
}
