#pragma once

// The properties the store benchmarks put: "Property<i>", index 1, readable
// by Minimal and writable by Server, with a value of the caller's or
// "value of property <i>".

#include <sstream>
#include <string>

#include "properties/Properties.h"

inline Property makeProperty(int i, const String& value) {
    Property p;
    p.name = Symbol("Property" + std::to_string(i));
    p.index = 1;
    p.attributes.set_readable(PropertyAttributes::Minimal, true);
    p.attributes.set_writeable(PropertyAttributes::Server, true);
    p.value.modify(value, 0);
    return p;
}

inline Property makeProperty(int i) {
    return makeProperty(i, "value of property " + std::to_string(i));
}

// Puts properties 0 to n - 1 into the set.
inline void fill(Properties& set, int n) {
    for (int i = 0; i < n; ++i) {
        Property p = makeProperty(i);
        set.put(p, PropertyAttributes::Server);
    }
}

// The set's text stream, as a save writes it.
inline String streamOf(const Properties& set) {
    std::ostringstream out;
    set.save(out);
    return out.str();
}
