#include "properties/COSProperties.h"

#include "properties/FileProperties.h"

COSProperties::COSProperties(const String&) : BTreeProperties(factoryName) {}

COSProperties::COSProperties() {
    reinitialize(true);
}

COSProperties::COSProperties(unsigned long number) {
    reinitialize(number, true);
}

COSProperties::COSProperties(const COSProperties& other)
    : BTreeProperties(other), number_(other.number_) {}

COSProperties& COSProperties::operator=(const COSProperties& other) {
    BTreeProperties::operator=(other);
    number_ = other.number_;
    return *this;
}

bool COSProperties::reinitialize(bool keep) {
    bool result = unbind(keep, keyType, btreeFD);
    number_ = unbound;
    return result;
}

bool COSProperties::reinitialize(unsigned long number, bool keep) {
    if (!reinitialize(keep)) return false;
    bool result = bind(indexPath, static_cast<std::uint32_t>(number), btreeFD);
    number_ = static_cast<std::uint32_t>(number);
    return result;
}

bool COSProperties::reinit() {
    return reinitialize(false);
}

Properties* COSProperties::factory(const PropertiesID& key) const {
    return new COSProperties(static_cast<unsigned long>(numberIn(key)));
}

Properties::knownInfo& COSProperties::getKnown() {
    return FileProperties::kindKnowns(defaults, knownInfo{nullptr, nullptr, 0, ownerBox},
                                      defaultsPath);
}
