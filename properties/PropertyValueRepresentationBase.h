#pragma once

#include <cstdint>

#include "platform/Export.h"
#include "properties/PropertyValueBase.h"

// A reference-counted holder of value bytes, shared by the PropertyValue
// handles that point at it. Built with a count of 1 (the handle that made
// it). Representations are made with new; remove() deletes the object when
// the last reference goes. Counts are plain counters: one thread at a time.
class CFGADM_EXPORT PropertyValueRepresentationBase : public PropertyValueBase {
  public:
    PropertyValueRepresentationBase();
    PropertyValueRepresentationBase(const PropertyValueRepresentationBase&) = delete;
    PropertyValueRepresentationBase& operator=(const PropertyValueRepresentationBase&) = delete;

    // Whether this representation may hold a value of `size` bytes.
    virtual bool can_handle_size(unsigned long size) const = 0;
    // A new representation of the same kind and bytes, count 1, owned by the
    // caller.
    virtual PropertyValueRepresentationBase* clone() const = 0;

    void add_reference();
    // Drops one reference; deletes this object when none is left.
    void remove();
    std::uint32_t reference_count() const;

  private:
    std::uint32_t references_;
};
