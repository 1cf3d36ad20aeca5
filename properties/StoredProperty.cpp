#include "properties/StoredProperty.h"

#include <utility>

namespace {

PropertyValueRepresentationBase* shared(const PropertyValue& value) {
    auto* rep = const_cast<PropertyValueRepresentationBase*>(value.representation());
    rep->add_reference();
    return rep;
}

void release(PropertyValueRepresentationBase* rep) {
    if (rep != &PropertyValue::NullPropertyValue) rep->remove();
}

}  // namespace

StoredProperty::StoredProperty(const Property& p)
    : rep_(shared(p.value)), index(p.index), attributes(p.attributes) {}

StoredProperty::StoredProperty(Property&& p)
    : rep_(shared(p.value)), index(p.index), attributes(std::move(p.attributes)) {
    // Dropping p's reference keeps the count this instance took.
    p.value.change_rep(nullptr, false);
}

StoredProperty::StoredProperty(const StoredProperty& other)
    : rep_(other.rep_), index(other.index), attributes(other.attributes) {
    rep_->add_reference();
}

StoredProperty::StoredProperty(StoredProperty&& other) noexcept
    : rep_(std::exchange(other.rep_, &PropertyValue::NullPropertyValue)),
      index(other.index),
      attributes(std::move(other.attributes)) {}

StoredProperty& StoredProperty::operator=(const StoredProperty& other) {
    if (this != &other) {
        // Counted first: the two may share the representation.
        other.rep_->add_reference();
        release(std::exchange(rep_, other.rep_));
        index = other.index;
        attributes = other.attributes;
    }
    return *this;
}

StoredProperty& StoredProperty::operator=(StoredProperty&& other) noexcept {
    if (this != &other) {
        release(std::exchange(rep_, std::exchange(other.rep_, &PropertyValue::NullPropertyValue)));
        index = other.index;
        attributes = std::move(other.attributes);
    }
    return *this;
}

StoredProperty::~StoredProperty() {
    release(rep_);
}

void StoredProperty::copyTo(Property& p, Symbol name) const {
    p.name = name;
    p.index = index;
    p.attributes = attributes;
    if (p.value.representation() != rep_) p.value.change_rep(rep_, true);
}

Property StoredProperty::property(Symbol name) const {
    Property p;
    copyTo(p, name);
    return p;
}

unsigned long StoredProperty::length(Symbol name) const {
    return Property::recordLength(name, index, attributes, rep_->length());
}
