#pragma once

// The shadow model of fuzz_set_ops: which instances a set holds, with their
// attributes and value bytes, and what each access operation must answer and
// do to them.

#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "properties/Properties.h"

namespace setops {

using A = PropertyAttributes;
using Access = A::AccessType;
using P = Properties;

// The known attributes of the kind's known names, filled once at start-up.
inline std::map<String, PropertyAttributes>& knownAttributes() {
    static auto* known = new std::map<String, PropertyAttributes>;
    return *known;
}

struct Entry {
    PropertyAttributes attributes;
    String value;
};
using Key = std::pair<String, std::uint32_t>;
// Ordered as the set promises to visit: name bytes, then index.
using Model = std::map<Key, Entry>;

inline constexpr std::uint32_t TopIndex = std::numeric_limits<std::uint32_t>::max();

inline std::pair<Model::const_iterator, Model::const_iterator> instances(const Model& m,
                                                                         const String& name) {
    return {m.lower_bound({name, 0}), m.upper_bound({name, TopIndex})};
}

struct Expected {
    int result;
    std::uint32_t index;
    PropertyAttributes attributes;
};

inline Expected expectNew(const Property& p, Access access, std::uint32_t index) {
    Expected e{P::PUT_OK, index, p.attributes};
    if (access == A::Server || access == A::Privileged) return e;
    auto known = knownAttributes().find(p.name.text());
    if (known != knownAttributes().end()) {
        if (!p.attributes.server_known())
            e.result = P::PUT_IS_SERVER_KNOWN;
        else if (!known->second.writeable(access))
            e.result = P::PUT_NO_PERMISSION;
        else
            e.attributes.set_defaults(known->second);
    } else if (p.attributes.server_known()) {
        e.result = P::PUT_NO_ATTRIBUTE_PERMISSION;
    }
    return e;
}

inline Expected expectPut(const Model& m, const Property& p, Access access) {
    if (p.name.empty()) return {P::PUT_NO_PERMISSION, p.index, p.attributes};
    auto [first, last] = instances(m, p.name.text());
    if (first == last) return expectNew(p, access, p.index == 0 ? 1 : p.index);
    if (p.index == 0) {
        std::uint32_t highest = std::prev(last)->first.second;
        if (highest == TopIndex) return {P::PUT_NO_PERMISSION, 0, p.attributes};
        return expectNew(p, access, highest + 1);
    }
    auto held = m.find({p.name.text(), p.index});
    if (held == m.end()) {
        // A further instance of a held name is stored as given: put() checks
        // it neither against the known properties nor against the class.
        return {P::PUT_OK, p.index, p.attributes};
    }
    if (!held->second.attributes.writeable(access)) return {P::PUT_NO_PERMISSION, 0, p.attributes};
    return {P::PUT_OK, p.index, held->second.attributes};
}

// Removes as remove() promises; the result of several removals is the first
// that was not REMOVE_OK.
inline int expectRemove(Model& m, const String& name, std::uint32_t index, Access access) {
    if (name.empty()) {
        std::vector<String> names;
        for (const auto& [key, entry] : m)
            if (names.empty() || names.back() != key.first) names.push_back(key.first);
        int result = P::REMOVE_OK;
        for (const String& held : names) {
            int r = expectRemove(m, held, 0, access);
            if (result == P::REMOVE_OK) result = r;
        }
        return result;
    }
    auto [first, last] = instances(m, name);
    if (first == last) return P::REMOVE_NO_SUCH_PROPERTY;
    if (index == 0) {
        int result = P::REMOVE_OK;
        std::vector<std::uint32_t> indexes;
        for (auto it = first; it != last; ++it) indexes.push_back(it->first.second);
        for (std::uint32_t i : indexes) {
            int r = expectRemove(m, name, i, access);
            if (result == P::REMOVE_OK) result = r;
        }
        return result;
    }
    auto held = m.find({name, index});
    if (held == m.end()) return P::REMOVE_NO_SUCH_PROPERTY;
    if (!held->second.attributes.writeable(access)) return P::REMOVE_NO_PERMISSION;
    m.erase(held);
    return P::REMOVE_OK;
}

}  // namespace setops
