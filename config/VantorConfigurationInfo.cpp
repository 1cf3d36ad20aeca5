#include "config/VantorConfigurationInfo.h"

#include <iostream>
#include <sstream>

#include "config/ConfigurationParser.h"

// Built on the heap and never destroyed: shared instances must outlive every
// reader, including readers destroyed by other units' static destructors.
std::map<Path, VantorConfigurationInfo*>& VantorConfigurationInfo::singletonMap =
    *new std::map<Path, VantorConfigurationInfo*>;

namespace {

// Shared instances whose parse failed are held only by the reader that made
// them; keeping them here too lets them live until the process ends as the
// others do, instead of becoming unreachable with that reader.
std::vector<VantorConfigurationInfo*>& failedInstances = *new std::vector<VantorConfigurationInfo*>;

}  // namespace

VantorConfigurationInfo::VantorConfigurationInfo(const Path& file, unsigned long debugLevel)
    : debugLevel(debugLevel) {
    doInitialize(file);
}

VantorConfigurationInfo::VantorConfigurationInfo(unsigned long debugLevel)
    : debugLevel(debugLevel) {
    doInitialize(EmptyPath);
}

VantorConfigurationInfo::VantorConfigurationInfo(const Path& file, Dummy) {
    initialized = parse_file(file);
    if (initialized) singletonMap[file] = this;
}

VantorConfigurationInfo::~VantorConfigurationInfo() {
    if (shared) return;
    for (VantorConfigurationInfoDB* slot : slots) delete slot;
}

Path VantorConfigurationInfo::defaultConfigurationFile() const {
    return EmptyPath;
}

void VantorConfigurationInfo::doInitialize(const Path& file) {
    Path path = file.empty() ? defaultConfigurationFile() : file;
    if (path.empty()) {
        std::cerr << "doInitialize"
                  << "(): file required" << std::endl;
        return;
    }
    if (debugLevel != 0) {
        initialized = parse_file(path);
        return;
    }
    VantorConfigurationInfo*& entry = singletonMap[path];
    shared = entry;
    if (!shared) {
        shared = new VantorConfigurationInfo(path, Dummy{});
        if (!shared->initialized) failedInstances.push_back(shared);
    }
    initialized = shared->initialized;
}

bool VantorConfigurationInfo::parse_file(const Path& file) {
    return ConfigurationParser(*this, file).parse();
}

bool VantorConfigurationInfo::configGet(const Symbol& key, String& value, Symbol& type,
                                        Symbol& typeValue) const {
    if (shared) return shared->configGet(key, value, type, typeValue);
    if (slotCount == 0) return false;
    for (unsigned i = 0; i < slotCount; ++i) {
        const VantorConfigurationInfoDB& slot = *slots[i];
        auto found = slot.params().find(key);
        if (found == slot.params().end()) continue;
        if (debugLevel != 0)
            std::cerr << "Getting an entry for " << slot.paramType() << ", " << slot.paramValue()
                      << ", key=" << key << std::endl;
        type = slot.paramType();
        typeValue = slot.paramValueSymbol();
        value = found->second;
        return true;
    }
    return false;
}

String VantorConfigurationInfo::paramValue(const Symbol& type) const {
    if (shared) return shared->paramValue(type);
    auto found = types.find(type);
    return found == types.end() ? String() : found->second->paramValue();
}

const VantorConfigurationInfo::Slots& VantorConfigurationInfo::precedenceSlots() const {
    return shared ? shared->slots : slots;
}

template <>
bool configGet<short>(const VantorConfigurationInfo& info, const Symbol& key, short& out,
                      String& source) {
    String value;
    Symbol type, typeValue;
    bool found = info.configGet(key, value, type, typeValue);
    if (found) {
        std::istringstream in(value);
        short number;
        if (in >> number) out = number;
    }
    source = type.text() + "=" + typeValue.text();
    return found;
}
