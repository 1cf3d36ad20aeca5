#pragma once

#include <cstdint>

#include "properties/BTreeProperties.h"

// The property set of one class of service: the record keyed by the class
// number's 4 bytes (machine order) in the index
// "/VM/orvex/sd/sdata/COSproperties". Box 333 owns the records. Known
// properties come from "/VM/config/COSPropertyDefaults" alone.
class CFGADM_EXPORT COSProperties : public BTreeProperties {
  public:
    using BTreeProperties::reinit;

    static constexpr std::uint32_t unbound = 0xFFFFFFFF;
    static constexpr std::uint16_t ownerBox = 333;
    static constexpr indx_key_t keyType = 4;

    // The prototype (the text is ignored).
    explicit COSProperties(const String& ignored);
    // A set bound to no class.
    COSProperties();
    // The set of class `number`, read at once.
    explicit COSProperties(unsigned long number);
    COSProperties(const COSProperties& other);
    COSProperties& operator=(const COSProperties& other);

    // Empties the set unless keep, and unbinds it from its class.
    bool reinitialize(bool keep);
    // Binds the set to class `number` and reads its record (opening the
    // kind's index on first use). Returns the read's result.
    bool reinitialize(unsigned long number, bool keep);
    bool reinit() override;

    Properties* factory(const PropertiesID& key) const override;
    Symbol myFactoryName() const override { return factoryName; }
    PropertiesID myKey() const override { return keyOf(number_); }
    knownInfo& getKnown() override;

    std::uint32_t number() const { return number_; }

    static const Path indexPath;
    static const Path defaultsPath;
    static const Symbol factoryName;
    static knownInfo* defaults;
    static std::int32_t btreeFD;

  private:
    std::uint32_t number_ = unbound;
};
