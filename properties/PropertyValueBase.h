#pragma once

#include <iosfwd>

#include "platform/Export.h"
#include "platform/String.h"

// The value interface shared by the value handle (PropertyValue) and every
// representation that holds the bytes. A value is an arbitrary byte string.
class CFGADM_EXPORT PropertyValueBase {
  public:
    // A new representation for a value of n bytes lives in a file when
    // n >= FileRequired and in memory otherwise. A file value moves back to
    // memory only when it shrinks to StringRequired bytes or fewer, so a value
    // that hovers around one size is not copied back and forth.
    static constexpr unsigned long StringRequired = 1024;
    static constexpr unsigned long FileRequired = 4096;

    virtual ~PropertyValueBase() = default;

    // The whole value.
    virtual operator String() const = 0;
    // The bytes from `position`, at most `count` of them; empty when
    // `position` lies past the end.
    virtual String get(unsigned long position, unsigned long count) const = 0;
    // The value becomes its first min(position, length()) bytes followed by
    // `text`.
    virtual void modify(const String& text, unsigned long position) = 0;
    virtual unsigned long length() const = 0;
    // Replaces the value by the next `count` bytes of `in`; false when fewer
    // arrived (the value then holds what did arrive).
    virtual bool read(std::istream& in, unsigned long count) = 0;
    // Writes the raw bytes to `out`. Callers do not rely on the result.
    virtual bool write(std::ostream& out) const = 0;
};
