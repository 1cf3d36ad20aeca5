#include "properties/PropertyAttributes.h"

#include <cstring>
#include <istream>
#include <ostream>

#include "platform/Trace.h"
#include "properties/DecimalDigits.h"

namespace {

constexpr std::uint16_t AllBits = (1u << PropertyAttributes::BitCount) - 1;
constexpr int ServerKnownBit = 8;
constexpr int ForwardableBit = 9;
constexpr std::size_t VersionByte = 2;
constexpr std::size_t LevelByte = 3;
constexpr std::size_t TypeByte = 4;
constexpr std::size_t BuiltLength = 5;

// Most to least privileged.
constexpr PropertyAttributes::AccessType Chain[] = {
    PropertyAttributes::Server,   PropertyAttributes::Privileged, PropertyAttributes::Trusted,
    PropertyAttributes::Standard, PropertyAttributes::Restricted, PropertyAttributes::Minimal};
constexpr int ChainLength = sizeof Chain / sizeof Chain[0];

// Position of a class in the chain, or -1 for a value that names no class.
int chainPosition(PropertyAttributes::AccessType type) {
    for (int i = 0; i < ChainLength; ++i)
        if (Chain[i] == type) return i;
    return -1;
}

}  // namespace

PropertyAttributes::PropertyAttributes() : attrs_(BuiltLength), bits_(0) {
    attrs_[LevelByte] = static_cast<char>(CurrentLevel);
}

bool PropertyAttributes::bit(int number) const {
    return number >= 0 && number < BitCount && (bits_ >> number) & 1u;
}

void PropertyAttributes::set_bit(int number, bool on) {
    if (number < 0 || number >= BitCount) return;
    if (on)
        bits_ |= static_cast<std::uint16_t>(1u << number);
    else
        bits_ &= static_cast<std::uint16_t>(~(1u << number));
}

// Records shorter than five bytes only arrive through assignment from a
// string; reading past them yields 0 and writing extends them.
unsigned char PropertyAttributes::byte(std::size_t i) const {
    return i < attrs_.size() ? static_cast<unsigned char>(attrs_[i]) : 0;
}

void PropertyAttributes::set_byte(std::size_t i, unsigned char value) {
    if (i >= attrs_.size()) attrs_.resize(i + 1);
    attrs_[i] = static_cast<char>(value);
}

unsigned char PropertyAttributes::version() const {
    return byte(VersionByte);
}
void PropertyAttributes::set_version(unsigned char version) {
    set_byte(VersionByte, version);
}

PropertyAttributes::ValueType PropertyAttributes::type() const {
    return static_cast<signed char>(byte(TypeByte));
}

void PropertyAttributes::set_type(ValueType type) {
    set_byte(TypeByte, static_cast<unsigned char>(type & 0xff));
}

bool PropertyAttributes::server_known() const {
    return bit(ServerKnownBit);
}
void PropertyAttributes::set_server_known(bool on) {
    set_bit(ServerKnownBit, on);
}
bool PropertyAttributes::forwardable() const {
    return bit(ForwardableBit);
}
void PropertyAttributes::set_forwardable(bool on) {
    set_bit(ForwardableBit, on);
}

int PropertyAttributes::bitbase(AccessType type) {
    switch (type) {
        case Server:
            return 0;
        case Privileged:
            return 2;
        case Standard:
            return 4;
        case Trusted:
            return 6;
        case Restricted:
            return 10;
        case Minimal:
            return 12;
    }
    return 4;
}

namespace {

// Per class, the bits that grant it reading or writing: its own and those
// of every class after it in the chain. A right is then one test of the bit
// vector.
struct RightMasks {
    std::uint16_t read[ChainLength] = {};
    std::uint16_t write[ChainLength] = {};
    RightMasks() {
        for (int c = 0; c < ChainLength; ++c) {
            int start = chainPosition(static_cast<PropertyAttributes::AccessType>(c));
            for (int i = start; i < ChainLength; ++i) {
                int base = PropertyAttributes::bitbase(Chain[i]);
                read[c] = static_cast<std::uint16_t>(read[c] | 1u << base);
                // Minimal, last in the chain, may never write: its bit is not consulted.
                if (i < ChainLength - 1)
                    write[c] = static_cast<std::uint16_t>(write[c] | 1u << (base + 1));
            }
        }
    }
};

const RightMasks& rightMasks() {
    static const RightMasks masks;
    return masks;
}

bool isClass(PropertyAttributes::AccessType type) {
    return type >= 0 && type < ChainLength;
}

}  // namespace

bool PropertyAttributes::readable(AccessType type) const {
    return isClass(type) && (bits_ & rightMasks().read[type]) != 0;
}

bool PropertyAttributes::writeable(AccessType type) const {
    return isClass(type) && (bits_ & rightMasks().write[type]) != 0;
}

void PropertyAttributes::set_readable(AccessType type, bool on) {
    set_bit(bitbase(type), on);
}
void PropertyAttributes::set_writeable(AccessType type, bool on) {
    set_bit(bitbase(type) + 1, on);
}

unsigned long PropertyAttributes::length() const {
    return attrs_.size();
}

void PropertyAttributes::set_defaults(const PropertyAttributes& source) {
    std::size_t n = source.attrs_.size();
    if (attrs_.size() < n) attrs_.resize(n);
    std::memmove(attrs_.data(), source.attrs_.data(), n);
    for (int i = 0; i < BitCount; ++i) set_bit(i, source.bit(i));
}

void PropertyAttributes::synch_attributes() const {
    if (attrs_.size() < 2) attrs_.resize(2);
    attrs_[0] = static_cast<char>(bits_ & 0xff);
    attrs_[1] = static_cast<char>((bits_ >> 8) & 0xff);
}

void PropertyAttributes::synch_bitfields() {
    bits_ = static_cast<std::uint16_t>((byte(0) | (byte(1) << 8)) & AllBits);
    int level = static_cast<signed char>(byte(LevelByte));
    if (level < 0 || level >= CurrentLevel) return;
    // Levels 0 and 1 predate the type byte.
    if (level <= 1) set_byte(TypeByte, 0);
    // Level 2 predates Trusted, Restricted and Minimal: open them as the
    // later layouts expect.
    set_readable(Trusted, true);
    set_writeable(Trusted, true);
    set_readable(Restricted, true);
    set_writeable(Restricted, false);
    set_readable(Minimal, true);
    set_writeable(Minimal, false);
    set_byte(LevelByte, CurrentLevel);
}

void PropertyAttributes::take_leading(const unsigned char* bytes, std::size_t count, bool fresh) {
    if (fresh) {
        // A default record, as the constructor makes it, under the bytes read.
        char record[BuiltLength] = {};
        record[LevelByte] = static_cast<char>(CurrentLevel);
        std::memcpy(record, bytes, count);
        attrs_.assign(record, BuiltLength);
    } else {
        std::memcpy(attrs_.data(), bytes, count);
    }
    synch_bitfields();
}

PropertyAttributes::operator String() const {
    synch_attributes();
    return attrs_.str();
}

PropertyAttributes& PropertyAttributes::operator=(const String& record) {
    attrs_.assign(record.data(), record.size());
    synch_bitfields();
    return *this;
}

// Counted rather than formatted: the same characters operator<< produces.
unsigned long PropertyAttributes::stream_length() const {
    synch_attributes();
    unsigned long total = decimalDigits(attrs_.size()) + 1;
    for (std::size_t i = 0; i < attrs_.size(); ++i) total += (byte(i) < 16 ? 1 : 2) + 1;
    return total;
}

std::ostream& operator<<(std::ostream& out, const PropertyAttributes& attributes) {
    attributes.synch_attributes();
    out << attributes.attrs_.size() << ' ' << std::hex;
    for (std::size_t i = 0; i < attributes.attrs_.size(); ++i)
        out << static_cast<unsigned>(attributes.byte(i)) << ' ';
    return out << std::dec;
}

std::istream& operator>>(std::istream& in, PropertyAttributes& attributes) {
    unsigned long count = 0;
    char separator;
    if (!(in >> count) || !in.get(separator)) return in;
    AttributeRecord& record = attributes.attrs_;
    if (count > record.size() && MC_current_trace_level() > 2)
        MC_std_trace() << "PropertyAttributes::<< number of attributes bytes (" << count
                       << ") > expected (" << record.size() << ")" << verbose;
    in >> std::hex;
    // The record is extended byte by byte as bytes arrive, never up front:
    // a claimed length must not cost memory before its bytes are there.
    for (unsigned long i = 0; i < count; ++i) {
        unsigned short value = 0;
        if (!(in >> value) || !in.get(separator)) break;
        if (i < record.size())
            record[i] = static_cast<char>(value & 0xff);
        else
            record.push_back(static_cast<char>(value & 0xff));
    }
    in >> std::dec;
    attributes.synch_bitfields();
    return in;
}
