// The text stream of a property set: whatever a read leaves in a set must be
// written as a stream that reads back into the same set, byte for byte, and
// the length the set predicts must be what it writes.

#include <cstddef>
#include <cstdint>
#include <sstream>

#include "fuzz/FuzzSupport.h"
#include "host/platform/RunTokenHolder.h"

namespace {

using A = PropertyAttributes;

// The set's predicted length against what it writes: an empty set predicts 0
// although its stream still carries the two header lines.
void checkLength(Properties& set, const String& bytes) {
    long expected = set.count() == 0 ? 0 : static_cast<long>(bytes.size());
    FUZZ_CHECK(set.length() == expected);
}

// Reading into a set that already holds one of the stream's instances (with
// another value): without replace the held instance stays, with replace the
// stream's wins.
void checkReplace(Properties& read, Properties::knownInfo& kind, const String& stream) {
    Property held;
    if (read.get_next(held, A::Server, false) == Properties::NEXT_END) return;
    held.attributes = PropertyAttributes();
    held.attributes.set_readable(A::Server, true);
    held.attributes.set_writeable(A::Server, true);
    held.value.modify(String("held before the read"), 0);
    for (bool replace : {false, true}) {
        FuzzProperties target(kind);
        Property p = held;
        FUZZ_CHECK(target.put(p, A::Server) == Properties::PUT_OK);
        std::istringstream in(stream);
        FUZZ_CHECK(target.obtain(in, replace));
        FUZZ_CHECK(target.count() == read.count());
        String written = fuzz::written(target);
        if (replace) {
            FUZZ_CHECK(written == stream);
        } else {
            Property kept;
            kept.name = held.name;
            kept.index = held.index;
            FUZZ_CHECK(target.get(kept, A::Server) == Properties::GET_OK);
            FUZZ_CHECK(String(kept.value) == String(held.value));
        }
    }
}

void checkSet(FuzzProperties& read, Properties::knownInfo& kind, const String& extraName) {
    // Whatever was stored (all of it, or what came before a failure) is a
    // valid set: written, it must read back whole and write the same bytes.
    String first = fuzz::written(read);
    checkLength(read, first);

    FuzzProperties back(kind);
    std::istringstream in(first);
    FUZZ_CHECK(back.obtain(in, true));
    FUZZ_CHECK(back.getError() == Properties::NO_ERROR);
    FUZZ_CHECK(back.count() == read.count());
    String second = fuzz::written(back);
    FUZZ_CHECK(second == first);
    checkLength(back, second);

    checkReplace(read, kind, first);
    // Changing a copy of a value never changes the set it came from.
    FUZZ_CHECK(fuzz::written(read) == first);

    // A modified set predicts its length too.
    Property extra;
    extra.name = Symbol(extraName.empty() ? String("extra") : extraName);
    extra.index = 0;
    extra.attributes.set_readable(A::Minimal, true);
    extra.value.modify(first.substr(0, 64), 0);
    // Refused only when the name's top index is already the highest there is.
    if (back.put(extra, A::Server) != Properties::PUT_OK) {
        FUZZ_CHECK(fuzz::written(back) == first);
        return;
    }
    FUZZ_CHECK(back.isModified());
    String third = fuzz::written(back);
    FUZZ_CHECK(third.size() > first.size());
    checkLength(back, third);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUpOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunTokenHolder token;
    {
        Properties::knownInfo kind;
        FuzzProperties set(kind);
        std::istringstream in(String(reinterpret_cast<const char*>(data), size));
        bool ok = set.obtain(in, true);
        Properties::PropertiesError error = set.getError();
        FUZZ_CHECK(ok == (error == Properties::NO_ERROR));
        FUZZ_CHECK(error >= Properties::NO_ERROR && error <= Properties::OS_SYSTEM_ERROR);
        // Nothing reaches the set before the two header lines are read.
        if (error == Properties::CANT_PARSE_VERSION || error == Properties::UNKNOWN_VERSION)
            FUZZ_CHECK(set.count() == 0);
        FUZZ_CHECK(!set.isModified());
        // The extra property's name comes from the input, so that it may
        // collide with one that was read.
        checkSet(set, kind, size > 20 ? String(reinterpret_cast<const char*>(data) + 10, 3) : "");
    }
    // Every value file went with its last handle.
    FUZZ_CHECK(fuzz::temporaryFiles() == 0);
    return 0;
}
