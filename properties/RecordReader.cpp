#include "properties/RecordReader.h"

#include <cstring>
#include <locale>
#include <string_view>

#include "properties/GetArea.h"
#include "properties/PropertyValueString.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// White space of the classic locale, as std::ws skips it.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A run of 1 to maxDigits decimal digits at p, followed by at least one
// more byte before end (a number that reaches the end of the buffer might go
// on in the stream). Advances p past the digits.
bool decimal(const char*& p, const char* end, int maxDigits, unsigned long& value) {
    const char* start = p;
    unsigned long n = 0;
    while (p < end && isDigit(*p)) {
        if (p - start == maxDigits) return false;
        n = n * 10 + static_cast<unsigned long>(*p - '0');
        ++p;
    }
    if (p == start || p == end) return false;
    value = n;
    return true;
}

// The same for 1 to 4 hexadecimal digits. A lone "0" before "x" or "X" would
// be read by the stream as the prefix "0x", so it is left to the stream.
bool hexadecimal(const char*& p, const char* end, unsigned& value) {
    const char* start = p;
    unsigned n = 0;
    int digit;
    while (p < end && (digit = hexDigit(*p)) >= 0) {
        if (p - start == 4) return false;
        n = n * 16 + static_cast<unsigned>(digit);
        ++p;
    }
    if (p == start || p == end) return false;
    if (p - start == 1 && *start == '0' && (*p == 'x' || *p == 'X')) return false;
    value = n;
    return true;
}

}  // namespace

// PropertyAttributes lets this reader at its record (friend).
class RecordAttributes {
  public:
    static AttributeRecord& record(PropertyAttributes& a) { return a.attrs_; }
    static void take(PropertyAttributes& a, const unsigned char* bytes, std::size_t count,
                     bool fresh) {
        a.take_leading(bytes, count, fresh);
    }
};

RecordReader::RecordReader(std::istream& in)
    : in_(in),
      buffer_(in.rdbuf()),
      usable_(buffer_ != nullptr && in.getloc() == std::locale::classic()) {}

// The fields of one record as they lie in the buffer.
struct RecordFields {
    std::string_view name;
    unsigned long index = 0;
    unsigned long attributeCount = 0;
    unsigned char attributes[8] = {};
    std::string_view value;
};

namespace {

// Line 1: name length, one character, the name, white space, the index, one
// character. Returns where line 2 starts, or null.
const char* parseNameLine(const char* at, const char* end, RecordFields& fields) {
    unsigned long nameLength = 0;
    if (!decimal(at, end, 5, nameLength) || nameLength > Property::maxNameLength) return nullptr;
    ++at;
    if (static_cast<unsigned long>(end - at) < nameLength) return nullptr;
    fields.name = std::string_view(at, nameLength);
    at += nameLength;
    while (at < end && isSpace(*at)) ++at;
    if (!decimal(at, end, 9, fields.index)) return nullptr;
    return at + 1;
}

// Line 2: the attribute record, at most room bytes, and its line end.
const char* parseAttributeLine(const char* at, const char* end, std::size_t room,
                               RecordFields& fields) {
    unsigned long& count = fields.attributeCount;
    if (at >= end || !decimal(at, end, 3, count) || count > room ||
        count > sizeof fields.attributes)
        return nullptr;
    ++at;
    for (unsigned long i = 0; i < count; ++i) {
        unsigned value = 0;
        if (at >= end || !hexadecimal(at, end, value)) return nullptr;
        fields.attributes[i] = static_cast<unsigned char>(value & 0xff);
        ++at;
    }
    return at + 1;
}

// Line 3: the value's length, one character, the bytes, one character, the
// line end, and the empty line when asked for. Returns the end of it all.
const char* parseValueLine(const char* at, const char* end, bool trailingLine,
                           RecordFields& fields) {
    unsigned long length = 0;
    if (at >= end || !decimal(at, end, 4, length) || length >= PropertyValueBase::FileRequired)
        return nullptr;
    ++at;
    std::size_t after = trailingLine ? 3 : 2;
    if (static_cast<std::size_t>(end - at) < length + after) return nullptr;
    fields.value = std::string_view(at, length);
    return at + length + after;
}

}  // namespace

bool RecordReader::read(Property& p, bool trailingLine, bool freshAttributes) {
    if (!usable_ || in_.rdstate() != std::ios::goodbit ||
        (in_.flags() & std::ios::basefield) != std::ios::dec)
        return false;
    const char* begin = GetArea::next(buffer_);
    const char* end = GetArea::end(buffer_);
    if (begin == nullptr || begin >= end) return false;
    RecordFields fields;
    static const std::size_t builtLength = PropertyAttributes().length();
    std::size_t room =
        freshAttributes ? builtLength : RecordAttributes::record(p.attributes).size();
    const char* at = parseNameLine(begin, end, fields);
    if (at != nullptr) at = parseAttributeLine(at, end, room, fields);
    if (at != nullptr) at = parseValueLine(at, end, trailingLine, fields);
    if (at == nullptr) return false;
    take(fields, p, freshAttributes);
    GetArea::consume(buffer_, static_cast<int>(at - begin));
    return true;
}

void RecordReader::take(const RecordFields& fields, Property& p, bool freshAttributes) {
    in_.unsetf(std::ios::skipws);
    if (fields.name == lastName_.text())
        p.name = lastName_;
    else
        p.name = lastName_ = Symbol(fields.name);
    p.index = static_cast<std::uint32_t>(fields.index);
    RecordAttributes::take(p.attributes, fields.attributes, fields.attributeCount, freshAttributes);
    p.value.change_rep(PropertyValueString::make(fields.value), false);
}
