#include "properties/AttributeRecord.h"

#include <cstring>
#include <utility>

AttributeRecord::AttributeRecord(std::size_t size) : bytes_{}, size_(0) {
    resize(size);
}

AttributeRecord::AttributeRecord(const AttributeRecord& other) : bytes_{}, size_(0) {
    assign(other.data(), other.size());
}

AttributeRecord& AttributeRecord::operator=(const AttributeRecord& other) {
    if (this != &other) assign(other.data(), other.size());
    return *this;
}

AttributeRecord& AttributeRecord::operator=(AttributeRecord&& other) noexcept {
    if (this != &other) {
        release();
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        size_ = other.size_;
        other.size_ = 0;
    }
    return *this;
}

void AttributeRecord::release() {
    delete spilled();
    size_ = 0;
}

void AttributeRecord::resize(std::size_t size) {
    if (String* text = spilled()) {
        text->resize(size, '\0');
        return;
    }
    if (size <= InlineBytes) {
        if (size > size_) std::memset(bytes_ + size_, 0, size - size_);
        size_ = static_cast<std::uint8_t>(size);
        return;
    }
    auto* text = new String(bytes_, size_);
    text->resize(size, '\0');
    std::memcpy(bytes_, &text, sizeof text);
    size_ = Spilled;
}

void AttributeRecord::assignElsewhere(const char* bytes, std::size_t size) {
    // A record that fits in place goes back there, so a copy of a short
    // record never keeps a String.
    if (size <= InlineBytes) {
        // The bytes may be this record's own spilled ones: taken before the
        // String goes.
        char copy[InlineBytes];
        std::memcpy(copy, bytes, size);
        release();
        std::memcpy(bytes_, copy, size);
        size_ = static_cast<std::uint8_t>(size);
    } else if (String* text = spilled()) {
        text->assign(bytes, size);
    } else {
        auto* fresh = new String(bytes, size);
        std::memcpy(bytes_, &fresh, sizeof fresh);
        size_ = Spilled;
    }
}

void AttributeRecord::push_back(char byte) {
    std::size_t n = size();
    resize(n + 1);
    data()[n] = byte;
}
