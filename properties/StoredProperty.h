#pragma once

#include <cstdint>

#include "platform/Symbol.h"
#include "properties/Property.h"
#include "properties/PropertyAttributes.h"
#include "properties/PropertyValueRepresentationBase.h"

// One instance of a name as a set keeps it: its index, its attributes and one
// counted reference to its value's representation. The name is the set's key
// and is not repeated here, and the value is held without a handle of its
// own, so an instance takes 24 bytes where a Property takes 40: a set of
// names with one or two instances each keeps them in its map node.
//
// Copies share the representation, as Property copies do; a Property made
// from an instance (copyTo) shares it too, so a get still costs no copy of
// the bytes. Plain counters: one thread at a time, as for Property.
class StoredProperty {
  public:
    // Shares p's representation.
    explicit StoredProperty(const Property& p);
    // Takes p's reference: p's value is left empty.
    explicit StoredProperty(Property&& p);
    StoredProperty(const StoredProperty& other);
    StoredProperty(StoredProperty&& other) noexcept;
    StoredProperty& operator=(const StoredProperty& other);
    StoredProperty& operator=(StoredProperty&& other) noexcept;
    ~StoredProperty();

    const PropertyValueRepresentationBase& value() const { return *rep_; }
    // p becomes this instance under `name`, sharing the representation.
    void copyTo(Property& p, Symbol name) const;
    Property property(Symbol name) const;
    // Number of characters this instance's record takes under `name`.
    unsigned long length(Symbol name) const;

  private:
    // Never null; PropertyValue::NullPropertyValue is held without being
    // released, as a handle holds it.
    PropertyValueRepresentationBase* rep_;

  public:
    std::uint32_t index;
    PropertyAttributes attributes;
};
