#include "properties/PropertyValueNull.h"

PropertyValueNull::PropertyValueNull() = default;

void PropertyValueNull::modify(const String&, unsigned long) {}

// The shared empty value must stay empty, so nothing is taken from the
// stream; handles always read into a fresh representation.
bool PropertyValueNull::read(std::istream&, unsigned long count) {
    return count == 0;
}

bool PropertyValueNull::can_handle_size(unsigned long size) const {
    return size == 0;
}

PropertyValueRepresentationBase* PropertyValueNull::clone() const {
    return new PropertyValueNull;
}
