#include "host/vmadmd/ConnectionThreads.h"

#include <system_error>
#include <thread>

void ConnectionThreads::enqueue(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_;
    }
    try {
        // Detached: shutdown() waits on the count, which each thread lowers
        // as the last thing it does with this object.
        std::thread([this, task] {
            task();
            finished();
        }).detach();
    } catch (const std::system_error&) {
        task();
        finished();
    }
}

void ConnectionThreads::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--running_ == 0) idle_.notify_all();
}

void ConnectionThreads::shutdown() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
}
