#include "platform/Event.h"

#include <condition_variable>
#include <mutex>

#include "platform/OrvexRunToken.h"

// A wake is a new generation: a waiter notes the generation before it gives
// up the run token, so a wake made by the thread that takes the token next
// is never lost between the two.
struct Event::State {
    std::mutex mutex;
    std::condition_variable woken;
    unsigned long generation = 0;
};

Event::Event() : state_(std::make_unique<State>()) {}

Event::~Event() = default;

void wait_event(Event& event) {
    Event::State& state = *event.state_;
    unsigned long seen;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        seen = state.generation;
    }
    OrvexRunToken token;
    token.release("wait_event: blocking on event", false);
    {
        std::unique_lock<std::mutex> lock(state.mutex);
        state.woken.wait(lock, [&] { return state.generation != seen; });
    }
    token.acquire("wait_event: event woken");
}

void wake_event(Event& event) {
    Event::State& state = *event.state_;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        ++state.generation;
    }
    state.woken.notify_all();
}
