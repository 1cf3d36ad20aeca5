#pragma once

#include <map>

#include "platform/Export.h"
#include "platform/String.h"

class Properties;

// The property-set selector map: "MESSAGE", "SYSTEM", "COS" and
// "SUBSCRIBER" to a kind object each, created on first use and kept (and
// deleted) with the map. Empty at load. The kind objects are only doors to
// their kinds' known sets.
class PropertyDBmap {
  public:
    PropertyDBmap() = default;
    ~PropertyDBmap();
    PropertyDBmap(const PropertyDBmap&) = delete;
    PropertyDBmap& operator=(const PropertyDBmap&) = delete;

    bool empty() const { return kinds_.empty(); }
    // Fills the four entries when empty.
    void fill();
    // The kind object of an upper-case selector, or null.
    Properties* find(const String& selector) const;

  private:
    std::map<String, Properties*> kinds_;
};

// The module's one selector map (defined in admin/ModuleFrame.cpp).
extern PropertyDBmap PropertyDBtypes;
