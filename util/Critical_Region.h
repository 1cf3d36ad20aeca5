#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/Event.h"

// A region of code that one thread of control at a time may run: the event
// its waiters sleep on and the flag that says it is taken. The flag needs no
// atomic operation: threads run module code one at a time under the run
// token and switch only inside blocking calls such as wait_event, so a test
// of the flag and the set that follows it are never separated.
class _Critical_Region : public Event {
  public:
    _Critical_Region() = default;
    bool busy = false;
};

// The guard of one entry into a region. Constructing it enters the region:
// while another thread holds it, the guard waits on the region's event (the
// run token given up meanwhile). release(), or the destructor on any return,
// leaves it and wakes the waiters; a guard leaves only what it entered.
// Guards made with new come from `pool`, a store of fixed-size blocks built
// when the module loads.
class Critical_Region final {
  public:
    explicit Critical_Region(_Critical_Region& region);
    ~Critical_Region();
    Critical_Region(const Critical_Region&) = delete;
    Critical_Region& operator=(const Critical_Region&) = delete;

    void release();

    static void* operator new(std::size_t size);
    static void operator delete(void* block) noexcept;

    // Fixed-size blocks handed out and taken back; a taken-back block serves
    // the next request. The blocks are freed when the pool is destroyed.
    class Pool {
      public:
        explicit Pool(std::size_t blockSize) : blockSize_(blockSize) {}
        ~Pool();
        Pool(const Pool&) = delete;
        Pool& operator=(const Pool&) = delete;
        void* take();
        void give(void* block) noexcept;

      private:
        std::size_t blockSize_;
        std::mutex mutex_;
        std::vector<void*> free_;
        std::vector<void*> all_;
    };
    static Pool pool;

  private:
    _Critical_Region* region_;
    int held_;
};
