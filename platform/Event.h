#pragma once

#include <memory>

// The platform's event service: an event that threads of one process wait on
// and wake. wait_event returns after a wake_event on the same event made
// after the wait began; it may also return without one, so a waiter tests its
// condition again. wait_event gives up the run token while it waits and
// holds it again when it returns, so it is called with the token held.
class Event {
  public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    struct State;

  private:
    friend void wait_event(Event& event);
    friend void wake_event(Event& event);
    std::unique_ptr<State> state_;
};

// Blocks until a later wake_event on the event (see above). Gives up the run
// token while it blocks.
void wait_event(Event& event);
// Wakes every thread waiting on the event. Never blocks.
void wake_event(Event& event);
