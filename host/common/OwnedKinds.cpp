#include "host/common/OwnedKinds.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/common/RecordNumbers.h"
#include "properties/COSProperties.h"
#include "properties/SubscriberProperties.h"

namespace {

// The kinds of the module that have an owner box, all of them B-tree kinds
// keyed by a record number.
struct RecordKind {
    const Symbol& name;
    std::uint16_t ownerBox;
    std::uint32_t maxNumber;
};

const RecordKind kRecordKinds[] = {
    {COSProperties::factoryName, COSProperties::ownerBox, RecordNumbers::maxCos},
    {SubscriberProperties::factoryName, SubscriberProperties::ownerBox,
     static_cast<std::uint32_t>(RecordNumbers::maxSubscriber)},
};

}  // namespace

OwnedKinds::OwnedKinds(std::uint16_t box) {
    for (const RecordKind& kind : kRecordKinds) {
        String name = kind.name.text();
        if (!Properties::registered(name)) continue;
        handedOff_.push_back(name);
        if (kind.ownerBox == box) owned_.push_back({name, kind.maxNumber});
    }
}

String OwnedKinds::names() const {
    String joined;
    for (const Kind& kind : owned_) joined += (joined.empty() ? "" : ", ") + kind.name;
    return joined;
}

int OwnedKinds::refusal(const String& name, const Properties::PropertiesID& key) const {
    auto kind = std::find_if(owned_.begin(), owned_.end(),
                             [&name](const Kind& k) { return k.name == name; });
    if (kind == owned_.end()) return EPERM;
    std::uint32_t number;
    std::memcpy(&number, key.bytes, sizeof number);
    if (number > kind->maxNumber) return ERANGE;
    // The sender's key is the number alone; other bytes would be ignored by
    // the set and stored nowhere, so a key carrying them is not the sender's.
    const char* rest = key.bytes + sizeof number;
    const char* end = key.bytes + sizeof key.bytes;
    if (std::any_of(rest, end, [](char c) { return c != '\0'; })) return EINVAL;
    return 0;
}
