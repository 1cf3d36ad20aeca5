#pragma once

#include <sstream>

#include "properties/Properties.h"

// A property the Server class may read and write, holding value.
inline Property named(const String& name, const String& value) {
    Property p;
    p.name = Symbol(name);
    p.attributes.set_readable(PropertyAttributes::Server, true);
    p.attributes.set_writeable(PropertyAttributes::Server, true);
    p.value.modify(value, 0);
    return p;
}

// The set's text stream.
inline String streamOf(const Properties& set) {
    std::ostringstream out;
    set.save(out);
    return out.str();
}
