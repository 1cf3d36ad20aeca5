// Sequences of access operations on a property set, decoded from the input,
// checked against a shadow model of what the set holds and against the rules
// the set keeps for each operation:
// - put: a nameless property is refused; index 0 appends after the name's
//   highest index (refused when that is the top of the range); an existing
//   instance needs the class's write right and keeps its attributes; a new
//   name put by a class other than Server or Privileged is checked against the
//   kind's known properties and takes the known attributes; a further
//   instance of a held name at a free index is stored as given;
// - get: an explicit index is filled even when the class may not read it;
//   index 0 takes the lowest instance the class may read;
// - remove: an instance needs the class's write right; index 0 removes every
//   instance it may, the empty name every name;
// - get_next: names in text order, indexes ascending, an unreadable instance
//   reported by name and index and skipped;
// - merge/forward: copies without checks, all or only unheld instances;
// - a refusal leaves the set's bytes as they were; count() is the number of
//   instances; length() is the length of the written stream.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/SetOpsModel.h"
#include "host/platform/RunTokenHolder.h"

namespace {

using namespace setops;

constexpr int MaxOperations = 96;

// Names whose text order differs from a naive order: upper case before lower,
// a blank and a line end inside a name, a byte above 0x7f after ASCII.
const char* const kNames[] = {"", "a", "B", "k1", "k2", "a b", "\xe9", "x\ny"};

const Symbol kFixed("k1");
const P::knownEntry kTable[] = {{&kFixed, 7, false, true}};

P::knownInfo& kind() {
    static P::knownInfo* info = new P::knownInfo;
    return *info;
}

std::uint32_t decodeIndex(std::uint8_t b) {
    switch (b % 8) {
        case 5:
            return TopIndex;
        case 6:
            return TopIndex - 1;
        case 7:
            return 1000;
        default:
            return b % 8;
    }
}

Access decodeAccess(std::uint8_t b) {
    // 9 names no class: a caller may hand in anything.
    return b % 7 < 6 ? static_cast<Access>(b % 7) : static_cast<Access>(9);
}

String decodeName(std::uint8_t b) {
    return kNames[b % (sizeof kNames / sizeof kNames[0])];
}

Property decodeProperty(fuzz::Bytes& in) {
    Property p;
    p.name = Symbol(decodeName(in.next()));
    p.index = decodeIndex(in.next());
    std::size_t recordLength = 5 + in.next() % 3;
    String record = in.take(recordLength);
    record.resize(recordLength, '\0');
    p.attributes = record;
    std::uint8_t v = in.next();
    // Large values (in files from 4096 bytes) without large inputs.
    String value = v < 224 ? in.take(v % 24)
                           : String(3000 + (v - 224) * 100u, static_cast<char>('a' + v % 26));
    p.value.modify(value, 0);
    return p;
}

void checkMatches(const Property& p, const Key& key, const Entry& entry) {
    FUZZ_CHECK(p.name.text() == key.first);
    FUZZ_CHECK(p.index == key.second);
    FUZZ_CHECK(String(p.attributes) == String(entry.attributes));
    FUZZ_CHECK(String(p.value) == entry.value);
}

// The whole set against the model: the same instances with the same contents.
void checkSame(Properties& set, const Model& m) {
    FUZZ_CHECK(set.count() == m.size());
    for (const auto& [key, entry] : m) {
        Property p;
        p.name = Symbol(key.first);
        p.index = key.second;
        int r = set.get(p, A::Server);
        FUZZ_CHECK(r == (entry.attributes.readable(A::Server) ? P::GET_OK : P::GET_NO_PERMISSION));
        checkMatches(p, key, entry);
    }
}

void doPut(Properties& set, Model& m, Property p, Access access) {
    String before = fuzz::written(set);
    Expected e = expectPut(m, p, access);
    String value(p.value);
    int r = set.put(p, access);
    FUZZ_CHECK(r == e.result);
    if (r != P::PUT_OK) {
        FUZZ_CHECK(fuzz::written(set) == before);
        return;
    }
    FUZZ_CHECK(p.index == e.index);
    FUZZ_CHECK(String(p.attributes) == String(e.attributes));
    Key key{p.name.text(), p.index};
    m[key] = Entry{e.attributes, value};
    // What was put is what Server gets (filled even when Server may not read).
    Property back;
    back.name = p.name;
    back.index = p.index;
    int g = set.get(back, A::Server);
    FUZZ_CHECK(g == (e.attributes.readable(A::Server) ? P::GET_OK : P::GET_NO_PERMISSION));
    checkMatches(back, key, m[key]);
}

void doGet(Properties& set, const Model& m, const String& name, std::uint32_t index,
           Access access) {
    Property p;
    p.name = Symbol(name);
    p.index = index;
    int r = set.get(p, access);
    auto [first, last] = instances(m, name);
    if (first == last) {
        FUZZ_CHECK(r == P::GET_NO_SUCH_PROPERTY);
    } else if (index != 0) {
        auto held = m.find({name, index});
        if (held == m.end()) {
            FUZZ_CHECK(r == P::GET_NO_SUCH_PROPERTY);
        } else {
            bool readable = held->second.attributes.readable(access);
            FUZZ_CHECK(r == (readable ? P::GET_OK : P::GET_NO_PERMISSION));
            checkMatches(p, held->first, held->second);
        }
    } else {
        auto it = first;
        while (it != last && !it->second.attributes.readable(access)) ++it;
        if (it == last) {
            FUZZ_CHECK(r == P::GET_NO_PERMISSION);
        } else {
            FUZZ_CHECK(r == P::GET_OK);
            checkMatches(p, it->first, it->second);
        }
    }
}

void doRemove(Properties& set, Model& m, const String& name, std::uint32_t index, Access access) {
    String before = fuzz::written(set);
    std::size_t heldBefore = m.size();
    int expected = expectRemove(m, name, index, access);
    Property p;
    p.name = Symbol(name);
    p.index = index;
    FUZZ_CHECK(set.remove(p, access) == expected);
    if (m.size() == heldBefore) FUZZ_CHECK(fuzz::written(set) == before);
}

// A walk from (name, index): every instance after it in visiting order, only
// those of name when same_name, then NEXT_END.
void doWalk(Properties& set, const Model& m, const String& name, std::uint32_t index, Access access,
            bool sameName) {
    Property p;
    p.name = Symbol(name);
    p.index = name.empty() ? 0 : index;
    auto [first, last] = instances(m, name);
    bool startHeld = name.empty() || (first != last && (index == 0 || m.count({name, index})));
    if (!startHeld) {
        FUZZ_CHECK(set.get_next(p, access, sameName) == P::NEXT_NO_SUCH_PROPERTY);
    } else if (!(name.empty() && sameName)) {
        Key start{name, p.index};
        for (auto it = m.upper_bound(start); it != m.end(); ++it) {
            if (sameName && it->first.first != name) break;
            int r = set.get_next(p, access, sameName);
            if (it->second.attributes.readable(access)) {
                FUZZ_CHECK(r == P::NEXT_OK);
                checkMatches(p, it->first, it->second);
            } else {
                FUZZ_CHECK(r == P::NEXT_NO_PERMISSION);
                FUZZ_CHECK(p.name.text() == it->first.first && p.index == it->first.second);
            }
        }
    }
    if (startHeld) FUZZ_CHECK(set.get_next(p, access, sameName) == P::NEXT_END);
}

void doMerge(Properties& set, Model& m, const Properties& source, const Model& sourceModel,
             bool replace, bool forwardableOnly) {
    for (const auto& [key, entry] : sourceModel) {
        if (forwardableOnly && !entry.attributes.forwardable()) continue;
        if (!replace && m.count(key)) continue;
        m[key] = entry;
    }
    if (replace && forwardableOnly && (set.count() + source.count()) % 2 == 0)
        source.forward(set);
    else
        set.merge(source, replace, forwardableOnly);
}

// The written stream reads back into a fresh set as the same bytes, and its
// length is what the set predicts.
void checkStream(Properties& set) {
    String bytes = fuzz::written(set);
    FUZZ_CHECK(set.length() == (set.count() == 0 ? 0 : static_cast<long>(bytes.size())));
    FuzzProperties back(kind());
    std::istringstream in(bytes);
    FUZZ_CHECK(back.obtain(in, true));
    FUZZ_CHECK(fuzz::written(back) == bytes);
}

void run(fuzz::Bytes& in) {
    FuzzProperties set(kind()), other(kind());
    Model model, otherModel;
    for (int n = 0; n < MaxOperations && !in.empty(); ++n) {
        std::uint8_t op = in.next();
        switch (op % 9) {
            case 0: {
                Access access = decodeAccess(in.next());
                doPut(set, model, decodeProperty(in), access);
                break;
            }
            case 1: {
                String name = decodeName(in.next());
                std::uint32_t index = decodeIndex(in.next());
                doGet(set, model, name, index, decodeAccess(in.next()));
                break;
            }
            case 2: {
                String name = decodeName(in.next());
                std::uint32_t index = decodeIndex(in.next());
                doRemove(set, model, name, index, decodeAccess(in.next()));
                break;
            }
            case 3:
            case 4: {
                String name = op % 9 == 3 ? String() : decodeName(in.next());
                std::uint32_t index = decodeIndex(in.next());
                std::uint8_t how = in.next();
                doWalk(set, model, name, index, decodeAccess(how), how & 0x80);
                break;
            }
            case 5:
                doPut(other, otherModel, decodeProperty(in), A::Server);
                break;
            case 6: {
                std::uint8_t how = in.next();
                doMerge(set, model, other, otherModel, how & 1, how & 2);
                break;
            }
            case 7:
                doRemove(other, otherModel, decodeName(in.next()), 0, A::Server);
                break;
            default:
                checkStream(set);
                break;
        }
        checkSame(set, model);
    }
    checkSame(other, otherModel);
    checkStream(set);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUpOnce();
    RunTokenHolder token;
    P::knownInfo& info = kind();
    info.table = kTable;
    info.count = 1;
    info.knowns = new FuzzProperties(info);
    P::initKnowns(info);
    Property k2;
    k2.name = Symbol("k2");
    k2.index = 1;
    k2.attributes.set_server_known(true);
    k2.attributes.set_readable(A::Minimal, true);
    k2.attributes.set_writeable(A::Server, true);
    k2.attributes.set_type(3);
    FUZZ_CHECK(info.knowns->put(k2, A::Server) == P::PUT_OK);
    for (const char* name : {"k1", "k2"}) {
        Property p;
        p.name = Symbol(name);
        FUZZ_CHECK(info.knowns->get(p, A::Server) == P::GET_OK);
        knownAttributes()[name] = p.attributes;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        RunTokenHolder token;
        fuzz::Bytes in(data, size);
        run(in);
    }
    FUZZ_CHECK(fuzz::temporaryFiles() == 0);
    return 0;
}
