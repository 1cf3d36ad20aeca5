// The three record forms on their own: a property record, an attribute record
// and a value. Each record read successfully is written, read back and
// written again: both writes must be the same bytes, and the length each
// record predicts must be what it writes. Records built from the input's raw
// bytes must read back as what was built.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "fuzz/FuzzSupport.h"
#include "host/platform/RunTokenHolder.h"

namespace {

// A stream cannot hold more records than bytes; this bounds the work per input.
constexpr int MaxRecords = 64;

unsigned long predicted(const Property& p) {
    return p.length();
}
unsigned long predicted(const PropertyAttributes& a) {
    return a.stream_length();
}
unsigned long predicted(const PropertyValue& v) {
    return v.stream_length();
}

template <class Record>
String write(const Record& record) {
    std::ostringstream out;
    out << record;
    FUZZ_CHECK(!out.fail());
    String bytes = out.str();
    FUZZ_CHECK(predicted(record) == bytes.size());
    return bytes;
}

// Reads records of one form from the front of the input until one fails.
// A Property read leaves white-space skipping off; the other two forms are
// read as the property reader reads them, so it is turned off for them too.
template <class Record>
void roundTrips(const String& input) {
    std::istringstream in(input);
    in.unsetf(std::ios::skipws);
    for (int i = 0; i < MaxRecords; ++i) {
        Record record;
        in >> record;
        if (in.fail()) return;
        String first = write(record);
        Record back;
        std::istringstream again(first);
        again.unsetf(std::ios::skipws);
        again >> back;
        FUZZ_CHECK(!again.fail());
        // The written form is read to its last byte and no further.
        FUZZ_CHECK(again.peek() == std::char_traits<char>::eof());
        FUZZ_CHECK(write(back) == first);
    }
}

template <class Record>
Record readBack(const String& bytes) {
    Record back;
    std::istringstream in(bytes);
    in.unsetf(std::ios::skipws);
    in >> back;
    FUZZ_CHECK(!in.fail());
    FUZZ_CHECK(in.peek() == std::char_traits<char>::eof());
    return back;
}

// Records built from raw bytes rather than read: a reader that loses bytes
// the writer can express is caught here, where reading a written record
// twice would agree with itself.
void builtRoundTrips(const String& input) {
    std::size_t cut = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % 16;
    String head = input.substr(0, cut), rest = input.substr(std::min(cut, input.size()));

    PropertyAttributes attributes;
    String record = head;
    record.resize(std::max<std::size_t>(record.size(), 5), '\0');
    attributes = record;
    String attributesText = write(attributes);
    FUZZ_CHECK(String(readBack<PropertyAttributes>(attributesText)) == String(attributes));

    PropertyValue value;
    value.modify(rest, 0);
    PropertyValue valueBack = readBack<PropertyValue>(write(value));
    FUZZ_CHECK(String(valueBack) == rest);

    Property property;
    property.name = Symbol(head);
    property.index = static_cast<std::uint32_t>(rest.size()) * 2654435761u;
    property.attributes = attributes;
    property.value = value;
    String propertyText = write(property);
    Property propertyBack = readBack<Property>(propertyText);
    FUZZ_CHECK(propertyBack.name == property.name);
    FUZZ_CHECK(propertyBack.index == property.index);
    FUZZ_CHECK(String(propertyBack.attributes) == String(attributes));
    FUZZ_CHECK(String(propertyBack.value) == rest);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUpOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunTokenHolder token;
    String input(reinterpret_cast<const char*>(data), size);
    roundTrips<Property>(input);
    roundTrips<PropertyAttributes>(input);
    roundTrips<PropertyValue>(input);
    builtRoundTrips(input);
    FUZZ_CHECK(fuzz::temporaryFiles() == 0);
    return 0;
}
