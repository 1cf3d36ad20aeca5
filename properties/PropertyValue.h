#pragma once

#include <iosfwd>

#include "platform/Export.h"
#include "platform/String.h"
#include "properties/PropertyValueBase.h"
#include "properties/PropertyValueNull.h"
#include "properties/PropertyValueRepresentationBase.h"

// The value of a property: a handle on a shared, reference-counted
// representation that holds the bytes in memory (below FileRequired bytes)
// or in a temporary file. Copies share one representation and cost one count
// increment; a handle that changes its bytes first makes the representation
// its own (copy on write), moving the bytes between memory and file when the
// new size calls for it. The last handle to let go deletes the
// representation (and with it a value's file).
//
// Not thread-safe: handles sharing a representation are used by one thread at
// a time.
class CFGADM_EXPORT PropertyValue : public PropertyValueBase {
  public:
    // The longest value a record may carry: a stored set's length must fit
    // a signed 32-bit number.
    static constexpr unsigned long maxLength = 0x7FFFFFFF;

    // The shared empty value. Handles point at it when they hold nothing; it
    // is never released or deleted through a handle.
    static PropertyValueNull NullPropertyValue;

    // An empty in-memory value of its own (not NullPropertyValue).
    PropertyValue();
    // Shares `other`'s representation.
    PropertyValue(const PropertyValue& other);
    PropertyValue& operator=(const PropertyValue& other);
    // Releases the representation and is left pointing at NullPropertyValue.
    ~PropertyValue() override;

    // Releases the current representation (unless NullPropertyValue) and
    // points at `rep`, or at NullPropertyValue when `rep` is null. With
    // `add_reference` the new representation's count is raised; pass false
    // for a freshly built or cloned one, which already counts this handle.
    void change_rep(PropertyValueRepresentationBase* rep, bool add_reference);

    // Makes the representation this handle's own and fit for about `size`
    // bytes, keeping the first `keep` bytes. With `keep` 0 a fresh
    // representation is always built (a file when `size` >= FileRequired).
    void unique(unsigned long size, unsigned long keep);

    operator String() const override;
    String get(unsigned long position, unsigned long count) const override;
    // Makes the value its own first (sized for position + text), then
    // modifies it.
    void modify(const String& text, unsigned long position) override;
    unsigned long length() const override;
    // Reads into the current representation without unsharing it: call
    // unique() first (operator>> does).
    bool read(std::istream& in, unsigned long count) override;
    bool write(std::ostream& out) const override;

    // Number of characters operator<< writes for this value, and for any
    // value of `bytes` bytes.
    unsigned long stream_length() const { return stream_length(length()); }
    static unsigned long stream_length(unsigned long bytes);

    // The representation currently pointed at (never null).
    const PropertyValueRepresentationBase* representation() const { return rep_; }

  private:
    PropertyValueRepresentationBase* rep_;
};

// Text form: the length in decimal, a blank, the raw bytes, a blank. The bytes
// go out as they are (blanks, line ends, any byte): only the length tells
// where they end.
CFGADM_EXPORT std::ostream& operator<<(std::ostream& out, const PropertyValue& value);

// Reads the text form into a fresh representation chosen by the length (a
// file from FileRequired bytes on). Skips no white space of its own. When the
// length cannot be read the stream is left failed and the value empty; when
// fewer bytes arrive than the length claims, the stream is set bad and the
// value holds what arrived. Memory use follows the bytes that arrive, never
// the claimed length.
CFGADM_EXPORT std::istream& operator>>(std::istream& in, PropertyValue& value);
