#include "properties/SubscriberProperties.h"

#include "properties/FileProperties.h"

SubscriberProperties::SubscriberProperties(const String&) : BTreeProperties(factoryName) {}

SubscriberProperties::SubscriberProperties() {
    reinitialize(true);
}

SubscriberProperties::SubscriberProperties(long number) {
    reinitialize(number, true);
}

SubscriberProperties::SubscriberProperties(const SubscriberProperties& other)
    : BTreeProperties(other), number_(other.number_) {}

SubscriberProperties& SubscriberProperties::operator=(const SubscriberProperties& other) {
    BTreeProperties::operator=(other);
    number_ = other.number_;
    return *this;
}

bool SubscriberProperties::reinitialize(bool keep) {
    bool result = unbind(keep, keyType, btreeFD);
    number_ = unbound;
    return result;
}

bool SubscriberProperties::reinitialize(long number, bool keep) {
    if (!reinitialize(keep)) return false;
    bool result = bind(indexPath, static_cast<std::uint32_t>(number), btreeFD);
    number_ = static_cast<std::int32_t>(number);
    return result;
}

bool SubscriberProperties::reinit() {
    return reinitialize(false);
}

Properties* SubscriberProperties::factory(const PropertiesID& key) const {
    return new SubscriberProperties(static_cast<long>(static_cast<std::int32_t>(numberIn(key))));
}

Properties::knownInfo& SubscriberProperties::getKnown() {
    return FileProperties::kindKnowns(defaults, knownInfo{nullptr, nullptr, 0, ownerBox},
                                      defaultsPath);
}
