#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>

#include "properties/Properties.h"

// name#index holding value, readable by each class of readers and writeable
// by each class of writers.
inline Property make(
    const String& name, std::uint32_t index, const String& value = "",
    std::initializer_list<PropertyAttributes::AccessType> readers = {PropertyAttributes::Server},
    std::initializer_list<PropertyAttributes::AccessType> writers = {PropertyAttributes::Server}) {
    Property p;
    p.name = Symbol(name);
    p.index = index;
    p.value.modify(value, 0);
    for (auto a : readers) p.attributes.set_readable(a, true);
    for (auto a : writers) p.attributes.set_writeable(a, true);
    return p;
}

// A property the Server class may read and write, holding value.
inline Property named(const String& name, const String& value) {
    return make(name, 0, value);
}

// The value of name#index as Server gets it (index 0: the lowest), or "<none>".
inline String valueAt(Properties& set, const String& name, std::uint32_t index = 0) {
    Property p = make(name, index);
    return set.get(p, PropertyAttributes::Server) == Properties::GET_OK ? String(p.value)
                                                                        : String("<none>");
}

// An owner box's answer to a hand-over: result, status, error and errno as
// four words in host order.
inline String ownerReply(std::uint32_t result, std::uint32_t status, std::uint32_t error,
                         std::uint32_t errnum) {
    String words;
    for (std::uint32_t word : {result, status, error, errnum})
        words.append(reinterpret_cast<const char*>(&word), 4);
    return words;
}

// Puts a new copy of name holding value that the Server class may read and
// write; fails the test when the set refuses it.
inline void putValue(Properties& set, const String& name, const String& value) {
    Property p = named(name, value);
    ASSERT_EQ(set.put(p, PropertyAttributes::Server), Properties::PUT_OK);
}

// The set's text stream.
inline String streamOf(const Properties& set) {
    std::ostringstream out;
    set.save(out);
    return out.str();
}

// What operator<< writes of x.
template <class T>
String textOf(const T& x) {
    std::ostringstream out;
    out << x;
    return out.str();
}
