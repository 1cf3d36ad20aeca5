#pragma once

#include <cstdint>

#include "properties/BTreeProperties.h"

// The property set of one subscriber: the record keyed by the subscriber
// number's 4 bytes (machine order) in the index
// "/VM/orvex/sd/sdata/SubscriberProperties". Box 333 owns the records. Known
// properties come from "/VM/config/SubscriberPropertyDefaults" alone.
class CFGADM_EXPORT SubscriberProperties : public BTreeProperties {
  public:
    using BTreeProperties::reinit;

    static constexpr std::int32_t unbound = 0x3FFFFF;
    static constexpr std::uint16_t ownerBox = 333;
    static constexpr indx_key_t keyType = 5;

    // The prototype (the text is ignored).
    explicit SubscriberProperties(const String& ignored);
    // A set bound to no subscriber.
    SubscriberProperties();
    // The set of subscriber `number`, read at once.
    explicit SubscriberProperties(long number);
    SubscriberProperties(const SubscriberProperties& other);
    SubscriberProperties& operator=(const SubscriberProperties& other);

    // Empties the set unless keep, and unbinds it from its class.
    bool reinitialize(bool keep);
    // Binds the set to subscriber `number` and reads its record (opening the
    // kind's index on first use). Returns the read's result.
    bool reinitialize(long number, bool keep);
    bool reinit() override;

    Properties* factory(const PropertiesID& key) const override;
    Symbol myFactoryName() const override { return factoryName; }
    PropertiesID myKey() const override { return keyOf(static_cast<std::uint32_t>(number_)); }
    knownInfo& getKnown() override;

    std::int32_t number() const { return number_; }

    static const Path indexPath;
    static const Path defaultsPath;
    static const Symbol factoryName;
    static knownInfo* defaults;
    static std::int32_t btreeFD;

  private:
    std::int32_t number_ = unbound;
};
