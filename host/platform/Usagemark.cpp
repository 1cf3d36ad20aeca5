#include "platform/Usagemark.h"

#include <atomic>

#include "platform/Ptick.h"

namespace {

// The stand-in's usage registry: a fixed table of counters, one slot per mark
// in the order marks are built. Marks beyond its capacity stay inactive.
constexpr int kCapacity = 256;

struct MarkSlot {
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> ticks{0};
};

struct Registry {
    std::atomic<int> next{0};
    MarkSlot slots[kCapacity];
};

Registry& registry() {
    // Built on first use, since marks are statics of other units; never
    // destroyed, so marks may be used while statics unwind.
    static Registry* r = new Registry;
    return *r;
}

}  // namespace

Usagemark::Usagemark(bool flag, int length, int opcode, const char* text)
    : id(-1), flag_(flag), length_(length), opcode_(opcode), text_(text) {
    int slot = registry().next.fetch_add(1);
    if (slot < kCapacity) id = slot;
}

void Usagemark::perf(std::int64_t start) {
    if (id < 0) return;
    std::int64_t elapsed = get_ptick() - start;
    MarkSlot& slot = registry().slots[id];
    slot.calls.fetch_add(1);
    slot.ticks.fetch_add(elapsed > 0 ? static_cast<std::uint64_t>(elapsed) : 0);
}

std::uint64_t Usagemark::calls() const {
    return id < 0 ? 0 : registry().slots[id].calls.load();
}

std::uint64_t Usagemark::totalTicks() const {
    return id < 0 ? 0 : registry().slots[id].ticks.load();
}
