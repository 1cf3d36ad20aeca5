#pragma once

#include <iosfwd>
#include <string_view>

#include "platform/String.h"
#include "properties/Property.h"
#include "properties/StoredProperty.h"

// Formats a set's text stream (or one property record) into memory, so that
// a save costs one write of the whole stream rather than a stream operation
// and a flush per line. The bytes are those the stream operators of
// Property, PropertyAttributes and PropertyValue write.
//
// With an output stream, what is formatted goes to it in one write at
// finish(), or in one write per ChunkBytes for a longer stream, so that a
// save to a stream never holds more than that much beside the stream's own
// buffer; a value held in a file is copied to the stream from its file
// (after the bytes before it). Without a stream, everything, file values
// included, stays in text().
class RecordWriter {
  public:
    static constexpr std::size_t ChunkBytes = 1 << 20;

    // out may be null: the text then stays in memory.
    explicit RecordWriter(std::ostream* out);

    // Makes room for about `bytes` of text at once, so that a long text is
    // not copied as it grows.
    void reserve(std::size_t bytes);

    // A header line: the text and a decimal number.
    void header(std::string_view text, unsigned long number);
    // One property record, and the empty line after it when asked for.
    void record(const Property& p, bool emptyLine);
    // The same for an instance a set keeps under `name`.
    void record(Symbol name, const StoredProperty& p, bool emptyLine);
    // Hands the formatted bytes to the stream in one write and flushes it;
    // true when the stream has not failed (always true without a stream).
    bool finish();

    // The formatted bytes (those not yet handed to the stream).
    String& text() { return text_; }
    // How many bytes were formatted in all, handed to the stream or not.
    std::size_t total() const { return handed_ + text_.size(); }

  private:
    void number(unsigned long n, int base = 10);
    void record(const String& name, std::uint32_t index, const PropertyAttributes& attributes,
                const PropertyValueRepresentationBase& value, bool emptyLine);
    void value(const PropertyValueRepresentationBase& value);
    // Hands what is formatted so far to the stream.
    void drain();

    std::ostream* out_;
    String text_;
    std::size_t handed_ = 0;
};
