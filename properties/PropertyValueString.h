#pragma once

#include "platform/Export.h"
#include "platform/String.h"
#include "properties/PropertyValueRepresentationBase.h"

// A value held in memory. Holds values below FileRequired bytes.
class CFGADM_EXPORT PropertyValueString : public PropertyValueRepresentationBase {
  public:
    PropertyValueString();
    explicit PropertyValueString(const String& bytes);
    explicit PropertyValueString(String&& bytes);

    operator String() const override;
    String get(unsigned long position, unsigned long count) const override;
    void modify(const String& text, unsigned long position) override;
    unsigned long length() const override;
    // Reads in bounded steps, so memory grows with the bytes that arrive, not
    // with `count`. True exactly when all `count` bytes were read.
    bool read(std::istream& in, unsigned long count) override;
    bool write(std::ostream& out) const override;

    bool can_handle_size(unsigned long size) const override;
    PropertyValueRepresentationBase* clone() const override;

  protected:
    String bytes_;
};
