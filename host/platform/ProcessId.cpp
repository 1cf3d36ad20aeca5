#include "host/platform/ProcessId.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<pid_t> known{0};

void renewInChild() {
    known.store(::getpid(), std::memory_order_relaxed);
}

}  // namespace

pid_t ProcessId::current() {
    // The handler is registered before the first id is kept, so that no
    // fork can fall between the two and leave the child the parent's id.
    static const bool registered = [] {
        ::pthread_atfork(nullptr, nullptr, renewInChild);
        known.store(::getpid(), std::memory_order_relaxed);
        return true;
    }();
    (void)registered;
    return known.load(std::memory_order_relaxed);
}
