#include "properties/PropertyValue.h"

#include <istream>
#include <limits>
#include <ostream>

#include "properties/DecimalDigits.h"
#include "properties/PropertyValueFile.h"
#include "properties/PropertyValueString.h"

PropertyValueNull PropertyValue::NullPropertyValue;

PropertyValue::PropertyValue() : rep_(new PropertyValueString) {}

PropertyValue::PropertyValue(const PropertyValue& other) : rep_(other.rep_) {
    rep_->add_reference();
}

PropertyValue& PropertyValue::operator=(const PropertyValue& other) {
    if (other.rep_ != rep_) change_rep(other.rep_, true);
    return *this;
}

PropertyValue::~PropertyValue() {
    change_rep(nullptr, false);
}

void PropertyValue::change_rep(PropertyValueRepresentationBase* rep, bool add_reference) {
    PropertyValueRepresentationBase* next = rep ? rep : &NullPropertyValue;
    // Counted before the old one is released, so that handing in the
    // representation already held cannot delete it.
    if (add_reference) next->add_reference();
    PropertyValueRepresentationBase* old = rep_;
    rep_ = next;
    if (old != nullptr && old != &NullPropertyValue) old->remove();
}

void PropertyValue::unique(unsigned long size, unsigned long keep) {
    String saved;
    if (keep != 0 && rep_ != &NullPropertyValue) {
        if (rep_->can_handle_size(size)) {
            if (rep_->reference_count() != 1) change_rep(rep_->clone(), false);
            return;
        }
        saved = rep_->get(0, keep);
    }
    if (size >= FileRequired)
        change_rep(new PropertyValueFile(saved), false);
    else
        change_rep(PropertyValueString::make(saved, size), false);
}

PropertyValue::operator String() const {
    return *rep_;
}

String PropertyValue::get(unsigned long position, unsigned long count) const {
    return rep_->get(position, count);
}

void PropertyValue::modify(const String& text, unsigned long position) {
    // Saturate: a position near the top of the range must not wrap the size
    // round to a small number.
    unsigned long limit = std::numeric_limits<unsigned long>::max();
    unsigned long size = position > limit - text.size() ? limit : position + text.size();
    unique(size, position);
    rep_->modify(text, position);
}

unsigned long PropertyValue::length() const {
    return rep_->length();
}

bool PropertyValue::read(std::istream& in, unsigned long count) {
    return rep_->read(in, count);
}

bool PropertyValue::write(std::ostream& out) const {
    return rep_->write(out);
}

unsigned long PropertyValue::stream_length(unsigned long bytes) {
    // The length, a blank, the bytes, a blank.
    return bytes + decimalDigits(bytes) + 2;
}

std::ostream& operator<<(std::ostream& out, const PropertyValue& value) {
    out << value.length() << ' ';
    value.write(out);
    return out << ' ';
}

std::istream& operator>>(std::istream& in, PropertyValue& value) {
    unsigned long count = 0;
    if (!(in >> count) || count > PropertyValue::maxLength) {
        value.unique(0, 0);
        in.setstate(std::ios::failbit);
        return in;
    }
    char separator;
    in.get(separator);
    value.unique(count, 0);
    if (count != 0 && (!in || !value.read(in, count))) in.setstate(std::ios::badbit);
    in.get(separator);
    return in;
}
