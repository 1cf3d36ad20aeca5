#pragma once

#include <sstream>

#include "properties/Properties.h"

// A property set whose store is a string in memory: enough to exercise the
// core's save and read paths without a file or an index.
class MemoryProperties : public Properties {
  public:
    using Properties::obtain;

    explicit MemoryProperties(knownInfo& kind, String key = "/VM/test/memory")
        : kind_(&kind), key_(std::move(key)) {}
    // A prototype registered in the factory registry under name.
    MemoryProperties(const Symbol& name, knownInfo& kind) : Properties(name), kind_(&kind) {}

    bool obtain(bool replace) override {
        std::istringstream in(stored);
        return obtain(in, replace);
    }
    bool underlierChanged() const override { return storeChanged; }
    PropertiesStatus getStatus() const override { return status; }
    Properties* factory(const PropertiesID& key) const override {
        return new MemoryProperties(*kind_, key.text());
    }
    Symbol myFactoryName() const override { return Symbol("MemoryProperties"); }
    PropertiesID myKey() const override { return PropertiesID(key_); }
    void putStatus(const PropertiesStatus& s) override { status = s; }
    bool saveThem() override {
        ++saves;
        if (failSave) {
            error_ = OS_SYSTEM_ERROR;
            return false;
        }
        std::ostringstream out;
        save(out);
        stored = out.str();
        modified_ = false;
        return true;
    }
    bool underlierKnown() const override { return hasStore; }
    knownInfo& getKnown() override { return *kind_; }
    std::int32_t estimateLength() override { return estimate; }

    String stored;
    PropertiesStatus status = 0;
    int saves = 0;
    bool hasStore = true;
    bool storeChanged = false;
    bool failSave = false;
    std::int32_t estimate = -1;

  private:
    knownInfo* kind_;
    String key_;
};
