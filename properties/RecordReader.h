#pragma once

#include <istream>

#include "platform/Symbol.h"
#include "properties/Property.h"

struct RecordFields;

// The fast way through a property record (Property.h, operator>>): parses
// the record straight from the bytes the stream has already buffered, with
// no formatted extraction, and builds the value's representation once with
// its real type.
//
// It takes only the records whose outcome it can tell without the stream:
// the whole record (and the character after it, when asked for) lies in the
// stream's buffer, the stream is good, reads decimal in the classic locale,
// every number is a plain run of digits short enough not to overflow, the
// value is kept in memory (below FileRequired bytes) and the attribute record
// is no longer than the property's. Then the result, the bytes consumed and
// the stream's state are exactly those of operator>> (and one get()). For
// any other record it consumes nothing and returns false, and the caller
// reads the record the ordinary way. Memory is taken only for bytes that are
// there.
//
// Consecutive records of one name (a stored set is sorted by name) share the
// name's symbol without interning it again.
class RecordReader {
  public:
    explicit RecordReader(std::istream& in);

    // Reads one record into p (and, with trailingLine, one more character:
    // the empty line that ends a record in a set's stream). With
    // freshAttributes, p's attributes are first reset to a default record,
    // as for a newly built Property. False when nothing was consumed.
    bool read(Property& p, bool trailingLine, bool freshAttributes);

    // The name of the last record read (either way), for reuse.
    void remember(Symbol name) { lastName_ = name; }

  private:
    // Fills p from fields that are all there.
    void take(const RecordFields& fields, Property& p, bool freshAttributes);

    std::istream& in_;
    std::streambuf* buffer_;
    bool usable_;
    Symbol lastName_;
};
