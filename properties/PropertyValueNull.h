#pragma once

#include "platform/Export.h"
#include "properties/PropertyValueString.h"

// The always-empty value: what a handle points at when it holds no value.
// One shared instance (PropertyValue::NullPropertyValue) serves every
// handle; it is never deleted through remove(). Reading and modifying leave
// it empty.
class CFGADM_EXPORT PropertyValueNull : public PropertyValueString {
  public:
    PropertyValueNull();

    void modify(const String& text, unsigned long position) override;
    // Reads nothing; true only for a count of 0.
    bool read(std::istream& in, unsigned long count) override;
    bool can_handle_size(unsigned long size) const override;
    PropertyValueRepresentationBase* clone() const override;
};
