#pragma once

#include <cstdint>

#include "properties/Property.h"
#include "properties/StoredProperty.h"

// The instances of one name in a set, ordered by index: a flat array, so a
// name's instances cost one block between them instead of a tree node each.
// Up to two instances are held in place (in the set's map node, so a name
// with one or two instances costs one allocation in all); more move to a
// block of their own. Stored streams are sorted, so reading one appends at
// the end; a put of a new index in the middle moves only that name's
// instances.
//
// Pointers and iterators into it are invalidated by assign(), erase(),
// reserve() and by moving the instances. A failed allocation throws
// std::bad_alloc and leaves the instances as they were.
class PropertyInstances {
  public:
    using const_iterator = const StoredProperty*;

    PropertyInstances() {}  // the room stays raw until an instance is made there
    PropertyInstances(const PropertyInstances& other);
    PropertyInstances(PropertyInstances&& other) noexcept;
    PropertyInstances& operator=(const PropertyInstances& other);
    PropertyInstances& operator=(PropertyInstances&& other) noexcept;
    ~PropertyInstances();

    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    const_iterator begin() const { return items(); }
    const_iterator end() const { return items() + size_; }
    // The instance with the highest index; the instances must not be empty.
    const StoredProperty& back() const { return items()[size_ - 1]; }

    // The instance with this index, or end().
    const_iterator find(std::uint32_t index) const;
    bool holds(std::uint32_t index) const { return find(index) != end(); }

    // Stores a copy of p under p.index, replacing an instance with that index.
    // p's name is the caller's to match with the name these instances are
    // kept under.
    void assign(const Property& p);
    // The same, taking p's value (p's value is left empty).
    void assign(Property&& p);
    void erase(const_iterator instance);
    // Makes room for n instances in all, so that adding them allocates once.
    void reserve(std::size_t n);

  private:
    static constexpr std::uint32_t kInPlace = 2;

    StoredProperty* items() { return heap_ != nullptr ? heap_ : inPlace(); }
    const StoredProperty* items() const { return heap_ != nullptr ? heap_ : inPlace(); }
    StoredProperty* inPlace() { return reinterpret_cast<StoredProperty*>(room_); }
    const StoredProperty* inPlace() const { return reinterpret_cast<const StoredProperty*>(room_); }
    // Where an instance with this index is or would go.
    std::size_t position(std::uint32_t index) const;
    // Stores `made` under its index.
    void assign(StoredProperty&& made);
    // Puts p at `at`, moving the instances from there on one place up.
    void insertAt(std::size_t at, StoredProperty&& p);
    void clear();

    StoredProperty* heap_ = nullptr;  // null while the instances are in place
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = kInPlace;
    alignas(StoredProperty) unsigned char room_[kInPlace * sizeof(StoredProperty)];
};
