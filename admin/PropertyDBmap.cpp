#include "admin/PropertyDBmap.h"

#include "properties/COSProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"

namespace {

// A kind's known-property record and its known set live as long as the
// module. The frame is the first thing unloading destroys and nothing of the
// module runs after it, so it returns them here: a server that loads and
// unloads the module keeps nothing of it.
template <class Kind>
void releaseKnowns() {
    if (Kind::defaults == nullptr) return;
    delete Kind::defaults->knowns;
    delete Kind::defaults;
    Kind::defaults = nullptr;
}

}  // namespace

PropertyDBmap::~PropertyDBmap() {
    for (auto& [selector, kind] : kinds_) delete kind;
    releaseKnowns<MessageProperties>();
    releaseKnowns<SystemProperties>();
    releaseKnowns<COSProperties>();
    releaseKnowns<SubscriberProperties>();
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
