#pragma once

#include <cstdint>
#include <iosfwd>

#include "platform/Export.h"
#include "platform/String.h"
#include "properties/AttributeRecord.h"

// The attribute record of a property: which access classes may read and write
// it, whether it is one of its kind's known properties, whether it travels
// when a set is forwarded, a version byte and a value-type byte.
//
// Two forms are kept in step. The record (a byte string, 5 bytes when made
// here, longer when a longer one was read) is what is stored and streamed:
//   byte 0  bits 0..7 of the bit vector
//   byte 1  bits 8..13 of the bit vector in its low six bits
//   byte 2  version (unsigned)
//   byte 3  record level (signed); records made here are level 3
//   byte 4  value type (signed)
//   5..     only in longer records read from elsewhere; kept and written back
// The 14-bit vector is what the queries read and is authoritative in memory;
// bytes 0 and 1 are refreshed from it whenever the record is handed out.
//
// Bits: 0/1 Server read/write, 2/3 Privileged, 4/5 Standard, 6/7 Trusted,
// 8 server_known, 9 forwardable, 10/11 Restricted, 12/13 Minimal.
//
// Not thread-safe; a record is used by one thread at a time.
class CFGADM_EXPORT PropertyAttributes {
  public:
    // Access classes. The privilege chain, most to least privileged, is
    // Server, Privileged, Trusted, Standard, Restricted, Minimal: whatever a
    // class may do, every class before it in the chain may do too.
    enum AccessType : int {
        Server = 0,
        Privileged = 1,
        Standard = 2,
        Trusted = 3,
        Restricted = 4,
        Minimal = 5
    };

    // A numeric value-type code. Stored in one signed byte and handed back
    // sign-extended; this class does not interpret it.
    using ValueType = std::int32_t;

    static constexpr int BitCount = 14;
    static constexpr int CurrentLevel = 3;

    // A 5-byte level-3 record, every other byte and bit 0: nobody may read or
    // write, version 0, type 0.
    PropertyAttributes();

    unsigned char version() const;
    void set_version(unsigned char version);
    ValueType type() const;
    // Keeps the low 8 bits of `type`.
    void set_type(ValueType type);
    bool server_known() const;
    void set_server_known(bool on);
    bool forwardable() const;
    void set_forwardable(bool on);

    // The number of the class's read bit (its write bit is the next one).
    // Server 0, Privileged 2, Standard 4, Trusted 6, Restricted 10, Minimal
    // 12; any other value yields 4.
    static int bitbase(AccessType type);

    // Whether `type` (or any less privileged class) holds the right. Values
    // outside the six classes are never granted. Minimal is never granted
    // writing, whatever bit 13 says.
    bool readable(AccessType type) const;
    bool writeable(AccessType type) const;
    // Set or clear the class's own bit (bitbase, bitbase + 1). Minimal's
    // write bit is stored and streamed even though writeable() ignores it.
    void set_readable(AccessType type, bool on);
    void set_writeable(AccessType type, bool on);

    // Number of bytes in the record.
    unsigned long length() const;

    // Takes the attributes of `source`: the leading bytes of this record, as
    // many as the source has, become the source's bytes (this record grows
    // when the source's is longer; bytes past it stay), then the bits are
    // copied.
    void set_defaults(const PropertyAttributes& source);

    // Copies the bit vector into bytes 0 and 1.
    void synch_attributes() const;
    // Rebuilds the bit vector from bytes 0 and 1 and upgrades records of
    // level 0 to 2 to level 3 (levels 0 and 1 also lose their type; level 2
    // and below open Trusted for reading and writing and Restricted and
    // Minimal for reading only). Other levels are left as they are.
    void synch_bitfields();

    // The record bytes, bytes 0 and 1 refreshed first.
    operator String() const;
    // Replaces the record by `record` (expected to be at least 5 bytes) and
    // rebuilds the bits from it.
    PropertyAttributes& operator=(const String& record);

    // Number of characters operator<< writes for this record.
    unsigned long stream_length() const;

  private:
    bool bit(int number) const;
    void set_bit(int number, bool on);
    unsigned char byte(std::size_t i) const;
    void set_byte(std::size_t i, unsigned char value);
    // For the set's record reader: the record becomes `count` bytes read
    // over the leading ones of this record (with `fresh`, of a default
    // one), and the bits follow. `count` is at most the record's length.
    void take_leading(const unsigned char* bytes, std::size_t count, bool fresh);

    friend CFGADM_EXPORT std::ostream& operator<<(std::ostream&, const PropertyAttributes&);
    friend CFGADM_EXPORT std::istream& operator>>(std::istream&, PropertyAttributes&);
    // The set's record reader fills the record in place (RecordReader.cpp).
    friend class RecordAttributes;

    // Mutable because handing out the record refreshes bytes 0 and 1.
    mutable AttributeRecord attrs_;
    std::uint16_t bits_;
};

// Text form: the record length in decimal, a blank, then each record byte in
// lower-case hexadecimal without leading zeros, each followed by a blank
// ("5 3 0 1 3 0 "). Leaves the stream in decimal.
CFGADM_EXPORT std::ostream& operator<<(std::ostream& out, const PropertyAttributes& attributes);

// Reads the text form. Every separator is exactly one character (no white
// space is skipped unless the stream skips it). A longer record than this one
// is accepted whole (traced at level 3); a shorter one replaces only its
// leading bytes. The record grows only as bytes actually arrive, so a claimed
// length costs nothing until its bytes are there. Bad input leaves the stream
// failed and the bytes from the failed one on unspecified. Leaves the stream
// in decimal.
CFGADM_EXPORT std::istream& operator>>(std::istream& in, PropertyAttributes& attributes);
