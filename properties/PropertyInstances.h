#pragma once

#include <cstdint>
#include <vector>

#include "properties/Property.h"

// The instances of one name in a set, ordered by index: a flat array, so a
// name's instances cost one block between them instead of a tree node each.
// Stored streams are sorted, so reading one appends at the end; a put of a
// new index in the middle moves only that name's instances.
//
// Pointers and iterators into it are invalidated by assign() and erase().
class PropertyInstances {
  public:
    using const_iterator = std::vector<Property>::const_iterator;

    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }
    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    // The instance with the highest index; the instances must not be empty.
    const Property& back() const { return items_.back(); }

    // The instance with this index, or end().
    const_iterator find(std::uint32_t index) const;
    bool holds(std::uint32_t index) const { return find(index) != end(); }

    // Stores a copy of p under p.index, replacing an instance with that index.
    void assign(const Property& p);
    // The same, taking p's contents.
    void assign(Property&& p);
    void erase(const_iterator instance) { items_.erase(instance); }
    // Makes room for n instances in all, so that adding them allocates once.
    void reserve(std::size_t n) { items_.reserve(n); }

  private:
    // Where an instance with this index is or would go.
    std::vector<Property>::iterator position(std::uint32_t index);

    std::vector<Property> items_;
};
