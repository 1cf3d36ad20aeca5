#include "admin/PropertyDBmap.h"

#include "properties/COSProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"

PropertyDBmap::~PropertyDBmap() {
    for (auto& [selector, kind] : kinds_) delete kind;
}

void PropertyDBmap::fill() {
    if (!kinds_.empty()) return;
    kinds_["MESSAGE"] = new MessageProperties();
    kinds_["SYSTEM"] = new SystemProperties();
    kinds_["COS"] = new COSProperties();
    kinds_["SUBSCRIBER"] = new SubscriberProperties();
}

Properties* PropertyDBmap::find(const String& selector) const {
    auto it = kinds_.find(selector);
    return it == kinds_.end() ? nullptr : it->second;
}
