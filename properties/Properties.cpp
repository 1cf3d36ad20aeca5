#include "properties/Properties.h"

#include <cstring>
#include <limits>
#include <vector>

#include "platform/Trace.h"

using Access = PropertyAttributes::AccessType;

Properties::PropertiesID::PropertiesID(const String& text) {
    std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes - 1));
}

String Properties::PropertiesID::text() const {
    return String(bytes, strnlen(bytes, sizeof bytes));
}

Properties::Properties() {
    reinit();
}

Properties::Properties(knownInfo& info) {
    reinit();
    known_ = &info;
}

Properties::Properties(const Symbol& name) {
    if (factoryDB == nullptr) factoryDB = new std::map<Symbol, Properties*>;
    (*factoryDB)[name] = this;
}

Properties::Properties(const Properties& other)
    : properties_(other.properties_),
      error_(other.error_),
      modified_(false),
      version_(other.version_),
      known_(other.known_) {}

Properties& Properties::operator=(const Properties& other) {
    if (this != &other) {
        stopTracking();
        properties_ = other.properties_;
        error_ = other.error_;
        version_ = other.version_;
        known_ = other.known_;
    }
    modified_ = false;
    return *this;
}

Properties::~Properties() = default;

bool Properties::reinit() {
    empty();
    known_ = nullptr;
    modified_ = false;
    error_ = NO_ERROR;
    version_ = 2;
    return true;
}

void Properties::empty() {
    stopTracking();
    properties_.clear();
    modified_ = true;
}

void Properties::set_version(unsigned long version) {
    if (version == version_) return;
    version_ = version;
    modified_ = true;
}

bool Properties::holdsNone() const {
    for (const auto& [name, instances] : properties_)
        if (!instances.empty()) return false;
    return true;
}

std::size_t Properties::count() const {
    std::size_t n = 0;
    for (const auto& [name, instances] : properties_) n += instances.size();
    return n;
}

Properties::knownInfo& Properties::knownRecord() {
    if (known_ == nullptr) known_ = &getKnown();
    return *known_;
}

bool Properties::isKnownSet() {
    return knownRecord().knowns == this;
}

const StoredProperty* Properties::knownProperty(Symbol name) {
    Properties* knowns = knownRecord().knowns;
    if (knowns == nullptr) return nullptr;
    auto it = knowns->properties_.find(name);
    if (it == knowns->properties_.end() || it->second.empty()) return nullptr;
    return &*it->second.begin();
}

bool Properties::holds(Symbol name, std::uint32_t index) const {
    auto held = properties_.find(name);
    return held != properties_.end() && held->second.holds(index);
}

void Properties::touch(Symbol name, std::uint32_t index) {
    // Past this many the stored form is read back instead: a bulk change
    // would keep a second copy of the set.
    constexpr std::size_t kMostTracked = 4096;
    if (!tracking_) return;
    auto [kept, added] = originals_.try_emplace({name, index});
    if (!added) return;
    auto held = properties_.find(name);
    if (held != properties_.end()) {
        auto instance = held->second.find(index);
        if (instance != held->second.end()) kept->second = instance->property(name);
    }
    if (originals_.size() > kMostTracked) stopTracking();
}

void Properties::store(const Property& p) {
    touch(p.name, p.index);
    properties_[p.name].assign(p);
    modified_ = true;
}

int Properties::get(Property& p, Access access) {
    bool knownSet = isKnownSet();
    auto name = properties_.find(p.name);
    if (name == properties_.end() || name->second.empty()) return GET_NO_SUCH_PROPERTY;
    const StoredProperty* taken = nullptr;
    if (p.index != 0) {
        auto it = name->second.find(p.index);
        if (it == name->second.end()) return GET_NO_SUCH_PROPERTY;
        taken = &*it;
    } else {
        for (const StoredProperty& instance : name->second) {
            if (knownSet || instance.attributes.readable(access)) {
                taken = &instance;
                break;
            }
        }
        if (taken == nullptr) return GET_NO_PERMISSION;
    }
    taken->copyTo(p, name->first);
    return p.attributes.readable(access) ? GET_OK : GET_NO_PERMISSION;
}

int Properties::get_next(Property& p, Access access, bool same_name) {
    bool knownSet = isKnownSet();
    if (p.name.empty()) {
        if (same_name || properties_.empty()) return NEXT_END;
        p.name = properties_.begin()->first;
    }
    auto name = properties_.find(p.name);
    if (name == properties_.end() || name->second.empty()) return NEXT_NO_SUCH_PROPERTY;
    Instances::const_iterator candidate = name->second.begin();
    if (p.index != 0) {
        candidate = name->second.find(p.index);
        if (candidate == name->second.end()) return NEXT_NO_SUCH_PROPERTY;
        ++candidate;
    }
    if (candidate != name->second.end()) {
        if (!knownSet && !candidate->attributes.readable(access)) {
            p.name = name->first;
            p.index = candidate->index;
            return NEXT_NO_PERMISSION;
        }
        candidate->copyTo(p, name->first);
        return NEXT_OK;
    }
    auto next = std::next(name);
    if (same_name || next == properties_.end()) return NEXT_END;
    p.name = next->first;
    p.index = 0;
    return get_next(p, access, false);
}

int Properties::put(Property& p, Access access) {
    // A record without a name cannot be read back: it would make the whole
    // stored set unreadable.
    if (p.name.empty() || static_cast<long>(p.name.length()) > Property::maxNameLength) {
        MC_std_trace() << "Properties::put() - a name of " << p.name.length()
                       << " bytes can't be stored" << oops;
        return PUT_NO_PERMISSION;
    }
    bool knownSet = isKnownSet();
    auto name = properties_.find(p.name);
    if (name != properties_.end() && !name->second.empty()) {
        if (p.index == 0) {
            std::uint32_t highest = name->second.back().index;
            // Index 0 means "no index": a name whose top index is taken has no next one.
            if (highest == std::numeric_limits<std::uint32_t>::max()) {
                MC_std_trace() << "Properties::put() - no index left for " << p.name << oops;
                return PUT_NO_PERMISSION;
            }
            p.index = highest + 1;
            return putNew(p, access);
        }
        if (knownSet) {
            store(p);
            return PUT_OK;
        }
        auto held = name->second.find(p.index);
        if (held != name->second.end()) {
            if (!held->attributes.writeable(access)) return PUT_NO_PERMISSION;
            // A put cannot change the attributes of an existing instance.
            p.attributes = held->attributes;
        }
        store(p);
        return PUT_OK;
    }
    if (p.index == 0) p.index = 1;
    return putNew(p, access);
}

// The check a new property passes: only the server and privileged classes,
// and the known set itself, may put what the kind does not allow.
int Properties::putNew(Property& p, Access access) {
    if (access != PropertyAttributes::Server && access != PropertyAttributes::Privileged &&
        !isKnownSet()) {
        if (const StoredProperty* known = knownProperty(p.name)) {
            if (!p.attributes.server_known()) return PUT_IS_SERVER_KNOWN;
            if (!known->attributes.writeable(access)) return PUT_NO_PERMISSION;
            PropertyAttributes defaults = known->attributes;
            p.attributes.set_defaults(defaults);
        } else if (p.attributes.server_known()) {
            return PUT_NO_ATTRIBUTE_PERMISSION;
        }
    }
    store(p);
    return PUT_OK;
}

int Properties::remove(Property& p, Access access) {
    if (p.name.empty()) return removeAll(p, access);
    auto name = properties_.find(p.name);
    if (name == properties_.end() || name->second.empty()) return REMOVE_NO_SUCH_PROPERTY;
    if (p.index == 0) return removeName(p, access);
    auto held = name->second.find(p.index);
    if (held == name->second.end()) return REMOVE_NO_SUCH_PROPERTY;
    if (isKnownSet()) {
        const knownInfo& info = knownRecord();
        for (std::uint32_t i = 0; i < info.count; ++i)
            if (info.table[i].name != nullptr && *info.table[i].name == p.name)
                return REMOVE_NO_PERMISSION;
    } else if (!held->attributes.writeable(access)) {
        return REMOVE_NO_PERMISSION;
    }
    touch(p.name, p.index);
    name->second.erase(held);
    if (name->second.empty()) properties_.erase(name);
    modified_ = true;
    return REMOVE_OK;
}

int Properties::removeAll(Property& p, Access access) {
    std::vector<Symbol> names;
    names.reserve(properties_.size());
    for (const auto& entry : properties_) names.push_back(entry.first);
    int result = REMOVE_OK;
    for (Symbol name : names) {
        p.clear();
        p.name = name;
        p.index = 0;
        int r = remove(p, access);
        if (result == REMOVE_OK) result = r;
    }
    return result;
}

int Properties::removeName(Property& p, Access access) {
    std::vector<std::uint32_t> indexes;
    for (const StoredProperty& instance : properties_[p.name]) indexes.push_back(instance.index);
    int result = REMOVE_OK;
    for (std::uint32_t index : indexes) {
        p.index = index;
        int r = remove(p, access);
        if (result == REMOVE_OK) result = r;
    }
    return result;
}

Properties* Properties::factory(const PropertiesID&) const {
    return nullptr;
}

std::int32_t Properties::estimateLength() {
    return -1;
}

void Properties::merge(const Properties& source, bool replace, bool forwardable_only) {
    Property copy;
    for (const auto& [name, instances] : source.properties_) {
        for (const StoredProperty& q : instances) {
            if (forwardable_only && !q.attributes.forwardable()) continue;
            if (!replace && holds(name, q.index)) continue;
            q.copyTo(copy, name);
            store(copy);
        }
    }
}

void Properties::forward(Properties& destination) const {
    destination.merge(*this, true, true);
}
