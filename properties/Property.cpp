#include "properties/Property.h"

#include <algorithm>
#include <istream>
#include <ostream>

#include "properties/DecimalDigits.h"
#include "properties/RecordReader.h"
#include "properties/RecordWriter.h"

namespace {

// Upper bound of one step when reading a name, so that a claimed length
// costs memory only as its bytes arrive.
constexpr std::size_t NameStep = 4096;

// Reads exactly `count` bytes into `text`; false (stream failed) when fewer
// arrive.
bool readName(std::istream& in, long count, String& text) {
    text.clear();
    while (text.size() < static_cast<unsigned long>(count)) {
        std::size_t have = text.size();
        std::size_t step =
            std::min<unsigned long>(NameStep, static_cast<unsigned long>(count) - have);
        text.resize(have + step);
        in.read(text.data() + have, static_cast<std::streamsize>(step));
        if (static_cast<std::size_t>(in.gcount()) < step) return false;
    }
    return true;
}

}  // namespace

Property::Property() : index(0) {}

void Property::clear() {
    *this = Property();
}

unsigned long Property::length() const {
    return recordLength(name, index, attributes, value.length());
}

unsigned long Property::recordLength(Symbol name, std::uint32_t index,
                                     const PropertyAttributes& attributes,
                                     unsigned long valueLength) {
    // Line 1 holds two blanks and a line end; lines 2 and 3 end with a line
    // end each.
    return name.length() + decimalDigits(name.length()) + decimalDigits(index) +
           attributes.stream_length() + PropertyValue::stream_length(valueLength) + 5;
}

std::ostream& operator<<(std::ostream& out, const Property& property) {
    RecordWriter writer(&out);
    writer.record(property, false);
    writer.finish();
    return out;
}

std::istream& operator>>(std::istream& in, Property& property) {
    // A record whole in the stream's buffer is taken from there.
    if (RecordReader(in).read(property, false, false)) return in;
    in.unsetf(std::ios::skipws);
    long nameLength = 0;
    char separator;
    if (!(in >> nameLength)) return in;
    if (nameLength < 0 || nameLength > Property::maxNameLength) {
        in.setstate(std::ios::failbit);
        return in;
    }
    String name;
    if (!in.get(separator) || !readName(in, nameLength, name)) return in;
    property.name = Symbol(name);
    in >> std::ws >> property.index;
    in.get(separator);
    in >> property.attributes;
    in.get(separator);
    in >> property.value;
    in.get(separator);
    return in;
}
