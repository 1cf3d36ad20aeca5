#pragma once

#include <cstdint>
#include <iosfwd>

#include "platform/Export.h"
#include "platform/Symbol.h"
#include "properties/PropertyAttributes.h"
#include "properties/PropertyValue.h"

// One named, numbered, attributed value: the unit a property set stores and
// hands out. A plain value object: copies share the value bytes (copy on
// write), so copying is cheap whatever the value's size.
class CFGADM_EXPORT Property {
  public:
    // The longest name a record may carry. Names are interned for the life
    // of the process, so a stream claiming a longer one is refused rather
    // than kept.
    static constexpr long maxNameLength = 65535;

    // Empty name, index 0, default attributes, an empty in-memory value.
    Property();

    // Back to a default Property(); drops this property's reference to its
    // value (a file value goes when no other copy holds it).
    void clear();

    // Number of characters operator<< writes for this property.
    unsigned long length() const;
    // The same for a record of these fields whose value holds valueLength
    // bytes.
    static unsigned long recordLength(Symbol name, std::uint32_t index,
                                      const PropertyAttributes& attributes,
                                      unsigned long valueLength);

    // The empty name means "no name given" to the set operations.
    Symbol name;
    // Instance number among properties of the same name, from 1; 0 means "no
    // index given".
    std::uint32_t index;
    PropertyAttributes attributes;
    PropertyValue value;
};

// The property record, three lines:
//   <name length> <name bytes> <index>
//   <attribute text>
//   <value text>
// Names and values may hold blanks and line ends; their lengths delimit them.
CFGADM_EXPORT std::ostream& operator<<(std::ostream& out, const Property& property);

// Reads one property record. Turns white-space skipping off on the stream
// (and leaves it off). Only the gap between the name and the index may hold
// any amount of white space; every other separator is exactly one character.
// A record that does not follow the layout leaves the stream failed; fields
// read before the failure keep what was read, later ones are unspecified.
// Hostile lengths are harmless: memory follows the bytes that arrive.
CFGADM_EXPORT std::istream& operator>>(std::istream& in, Property& property);
