#include "properties/RecordReader.h"

#include <cstring>
#include <locale>

#include "properties/PropertyValueString.h"

namespace {

// The get area of a stream buffer, reached through pointers to the members
// a derived class may name (the standard's way to reach them from outside).
struct GetArea : std::streambuf {
    static const char* next(std::streambuf* b) { return (b->*&GetArea::gptr)(); }
    static const char* end(std::streambuf* b) { return (b->*&GetArea::egptr)(); }
    static void consume(std::streambuf* b, int n) { (b->*&GetArea::gbump)(n); }
};

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
    static String& record(PropertyAttributes& a) { return a.attrs_; }
};

RecordReader::RecordReader(std::istream& in)
    : in_(in),
      buffer_(in.rdbuf()),
      usable_(buffer_ != nullptr && in.getloc() == std::locale::classic()) {}

bool RecordReader::read(Property& p, bool trailingLine, bool freshAttributes) {
    if (!usable_ || in_.rdstate() != std::ios::goodbit ||
        (in_.flags() & std::ios::basefield) != std::ios::dec)
        return false;
    const char* begin = GetArea::next(buffer_);
    const char* end = GetArea::end(buffer_);
    if (begin == nullptr || begin >= end) return false;
    const char* at = begin;

    // Line 1: name length, one character, the name, white space, the index,
    // one character.
    unsigned long nameLength = 0;
    if (!decimal(at, end, 5, nameLength) || nameLength > Property::maxNameLength) return false;
    ++at;
    if (static_cast<unsigned long>(end - at) < nameLength) return false;
    const char* name = at;
    at += nameLength;
    while (at < end && isSpace(*at)) ++at;
    unsigned long index = 0;
    if (!decimal(at, end, 9, index)) return false;
    ++at;

    // Line 2: the attribute record, no longer than the one it replaces.
    String* record = &RecordAttributes::record(p.attributes);
    std::size_t have = freshAttributes ? PropertyAttributes().length() : record->size();
    unsigned long count = 0;
    if (at >= end || !decimal(at, end, 3, count) || count > have) return false;
    ++at;
    unsigned char bytes[8];
    if (count > sizeof bytes) return false;
    for (unsigned long i = 0; i < count; ++i) {
        unsigned value = 0;
        if (at >= end || !hexadecimal(at, end, value)) return false;
        bytes[i] = static_cast<unsigned char>(value & 0xff);
        ++at;
    }
    ++at;

    // Line 3: the value's length, one character, the bytes, one character;
    // then the line end, and the empty line when asked for.
    unsigned long valueLength = 0;
    if (at >= end || !decimal(at, end, 4, valueLength) ||
        valueLength >= PropertyValueBase::FileRequired)
        return false;
    ++at;
    std::size_t after = trailingLine ? 3 : 2;
    if (static_cast<std::size_t>(end - at) < valueLength + after) return false;
    const char* value = at;
    at += valueLength + after;

    // Everything is there: take it.
    in_.unsetf(std::ios::skipws);
    if (nameLength == lastName_.length() &&
        std::memcmp(name, lastName_.text().data(), nameLength) == 0)
        p.name = lastName_;
    else
        p.name = lastName_ = Symbol(String(name, nameLength));
    p.index = static_cast<std::uint32_t>(index);
    if (freshAttributes) p.attributes = PropertyAttributes();
    record = &RecordAttributes::record(p.attributes);
    for (unsigned long i = 0; i < count; ++i) (*record)[i] = static_cast<char>(bytes[i]);
    p.attributes.synch_bitfields();
    p.value.change_rep(new PropertyValueString(String(value, valueLength)), false);
    GetArea::consume(buffer_, static_cast<int>(at - begin));
    return true;
}
