#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

// httplib's task queue with one thread per accepted connection, so no
// connection ever waits for another to end (a fixed pool is taken by as many
// slow clients as it has threads). How many connections may be open is the
// server's to bound (ConnectionLimits); a connection over the limit is
// closed at once on its own thread. shutdown() waits for every task to end.
class ConnectionThreads : public httplib::TaskQueue {
  public:
    ~ConnectionThreads() override { shutdown(); }

    // Runs `task` on a new thread; on the calling thread when no thread can
    // be made (the task still runs and closes its connection).
    void enqueue(std::function<void()> task) override;
    void shutdown() override;

  private:
    void finished();

    std::size_t running_ = 0;
    std::mutex mutex_;
    std::condition_variable idle_;
};
