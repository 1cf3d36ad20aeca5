#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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
    // A spilled String changes hands with its pointer: nothing is copied.
    AttributeRecord(AttributeRecord&& other) noexcept : size_(other.size_) {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.size_ = 0;
    }
    AttributeRecord& operator=(const AttributeRecord& other);
    AttributeRecord& operator=(AttributeRecord&& other) noexcept;
    ~AttributeRecord() {
        if (size_ == Spilled) release();
    }

    // Inline: a set's reader and writer touch every record's bytes.
    std::size_t size() const { return size_ != Spilled ? size_ : spilled()->size(); }
    const char* data() const { return size_ != Spilled ? bytes_ : spilled()->data(); }
    char* data() { return size_ != Spilled ? bytes_ : spilled()->data(); }
    char& operator[](std::size_t i) { return data()[i]; }
    char operator[](std::size_t i) const { return data()[i]; }

    // Grows with zero bytes or cuts to `size` bytes.
    void resize(std::size_t size);
    void assign(const char* bytes, std::size_t size) {
        if (size_ != Spilled && size <= InlineBytes) {
            std::memmove(bytes_, bytes, size);
            size_ = static_cast<std::uint8_t>(size);
        } else {
            assignElsewhere(bytes, size);
        }
    }
    void push_back(char byte);
    String str() const { return String(data(), size()); }

  private:
    // size_ when the bytes live in a String (its pointer is kept in bytes_).
    static constexpr std::uint8_t Spilled = 0xff;

    String* spilled() const {
        if (size_ != Spilled) return nullptr;
        String* text;
        std::memcpy(&text, bytes_, sizeof text);
        return text;
    }
    // assign() for a record that is or will be spilled.
    void assignElsewhere(const char* bytes, std::size_t size);
    // Frees a spilled String; the record is then empty and inline.
    void release();

    char bytes_[InlineBytes];
    std::uint8_t size_;
};
