#include "properties/SystemProperties.h"

#include <iterator>

namespace {

const Properties::knownEntry kTable[] = {{&SysLang, 0, false, false}};

}  // namespace

SystemProperties::SystemProperties(const String&) : FileProperties(factoryName) {}

SystemProperties::SystemProperties() : FileProperties(filePath) {}

bool SystemProperties::update() {
    if (!underlierChanged()) return false;
    return reinit(filePath);
}

Properties* SystemProperties::factory(const PropertiesID&) const {
    return new SystemProperties();
}

Properties::knownInfo& SystemProperties::getKnown() {
    return kindKnowns(defaults, knownInfo{nullptr, kTable, std::size(kTable), 0}, defaultsPath);
}
