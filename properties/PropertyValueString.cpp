#include "properties/PropertyValueString.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <utility>

namespace {

// Upper bound of one step of read().
constexpr unsigned long ReadStep = 8096;

}  // namespace

PropertyValueString::PropertyValueString() = default;

PropertyValueString::PropertyValueString(const String& bytes) : bytes_(bytes) {}

PropertyValueString::PropertyValueString(String&& bytes) : bytes_(std::move(bytes)) {}

PropertyValueString::operator String() const {
    return bytes_;
}

String PropertyValueString::get(unsigned long position, unsigned long count) const {
    if (position > bytes_.size()) return String();
    return bytes_.substr(position, count);
}

void PropertyValueString::modify(const String& text, unsigned long position) {
    bytes_.resize(std::min<unsigned long>(position, bytes_.size()));
    bytes_ += text;
}

unsigned long PropertyValueString::length() const {
    return bytes_.size();
}

bool PropertyValueString::read(std::istream& in, unsigned long count) {
    bytes_.clear();
    while (bytes_.size() < count) {
        std::size_t have = bytes_.size();
        std::size_t step = std::min<unsigned long>(ReadStep, count - have);
        bytes_.resize(have + step);
        in.read(bytes_.data() + have, static_cast<std::streamsize>(step));
        bytes_.resize(have + static_cast<std::size_t>(in.gcount()));
        if (static_cast<std::size_t>(in.gcount()) < step) return false;
    }
    return true;
}

bool PropertyValueString::write(std::ostream& out) const {
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    return true;
}

bool PropertyValueString::can_handle_size(unsigned long size) const {
    return size < FileRequired;
}

PropertyValueRepresentationBase* PropertyValueString::clone() const {
    return new PropertyValueString(bytes_);
}
