#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Export.h"
#include "platform/String.h"

// The bytes of an attribute record. Records made here are five bytes and
// nearly every stored one is too, so up to InlineBytes bytes live in the
// object itself; a longer record (one a foreign writer made) moves to a
// String of its own. Twelve bytes in place of a String keeps a Property small
// enough for a set of 100,000 properties to stay compact in memory.
//
// Byte-alignment only: a PropertyAttributes packs its bit vector right
// behind it. Not thread-safe.
class CFGADM_EXPORT AttributeRecord {
  public:
    static constexpr std::size_t InlineBytes = 8;

    // A record of `size` zero bytes.
    explicit AttributeRecord(std::size_t size = 0);
    AttributeRecord(const AttributeRecord& other);
    AttributeRecord(AttributeRecord&& other) noexcept;
    AttributeRecord& operator=(const AttributeRecord& other);
    AttributeRecord& operator=(AttributeRecord&& other) noexcept;
    ~AttributeRecord();

    std::size_t size() const;
    const char* data() const;
    char* data();
    char& operator[](std::size_t i) { return data()[i]; }
    char operator[](std::size_t i) const { return data()[i]; }

    // Grows with zero bytes or cuts to `size` bytes.
    void resize(std::size_t size);
    void assign(const char* bytes, std::size_t size);
    void push_back(char byte);
    String str() const { return String(data(), size()); }

  private:
    // size_ when the bytes live in a String (its pointer is kept in bytes_).
    static constexpr std::uint8_t Spilled = 0xff;

    String* spilled() const;
    // Frees a spilled String; the record is then empty and inline.
    void release();

    char bytes_[InlineBytes];
    std::uint8_t size_;
};
