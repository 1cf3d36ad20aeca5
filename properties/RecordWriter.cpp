#include "properties/RecordWriter.h"

#include <algorithm>
#include <charconv>
#include <ostream>

#include "properties/PropertyValueString.h"

RecordWriter::RecordWriter(std::ostream* out) : out_(out) {}

void RecordWriter::reserve(std::size_t bytes) {
    text_.reserve(out_ != nullptr ? std::min(bytes, ChunkBytes + ChunkBytes / 8) : bytes);
}

void RecordWriter::number(unsigned long n, int base) {
    char digits[24];
    auto [end, ignored] = std::to_chars(digits, digits + sizeof digits, n, base);
    text_.append(digits, end);
}

void RecordWriter::header(std::string_view text, unsigned long number) {
    text_ += text;
    this->number(number);
    text_ += '\n';
}

void RecordWriter::record(const Property& p, bool emptyLine) {
    record(p.name.text(), p.index, p.attributes, *p.value.representation(), emptyLine);
}

void RecordWriter::record(Symbol name, const StoredProperty& p, bool emptyLine) {
    record(name.text(), p.index, p.attributes, p.value(), emptyLine);
}

void RecordWriter::record(const String& name, std::uint32_t index,
                          const PropertyAttributes& attributes,
                          const PropertyValueRepresentationBase& value, bool emptyLine) {
    number(name.size());
    text_ += ' ';
    text_ += name;
    text_ += ' ';
    number(index);
    text_ += '\n';
    // The record's bytes, with bytes 0 and 1 refreshed from the bits.
    String bytes = attributes;
    number(bytes.size());
    text_ += ' ';
    for (unsigned char byte : bytes) {
        number(byte, 16);
        text_ += ' ';
    }
    text_ += '\n';
    this->value(value);
    text_ += emptyLine ? " \n\n" : " \n";
    if (text_.size() >= ChunkBytes) drain();
}

void RecordWriter::value(const PropertyValueRepresentationBase& value) {
    number(value.length());
    text_ += ' ';
    auto memory = dynamic_cast<const PropertyValueString*>(&value);
    if (memory != nullptr) {
        text_ += memory->bytes();
    } else if (out_ == nullptr) {
        text_ += String(value);
    } else {
        drain();
        value.write(*out_);
        handed_ += value.length();
    }
}

void RecordWriter::drain() {
    if (out_ == nullptr || text_.empty()) return;
    out_->write(text_.data(), static_cast<std::streamsize>(text_.size()));
    handed_ += text_.size();
    text_.clear();
}

bool RecordWriter::finish() {
    if (out_ == nullptr) return true;
    drain();
    out_->flush();
    return !out_->fail();
}
