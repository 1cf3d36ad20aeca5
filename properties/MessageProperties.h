#pragma once

#include "properties/FileProperties.h"

// The property set of one stored message, in the file whose path the message
// store keeps for the message. Every process writes such files itself. The
// eleven fixed known properties below exist even without the defaults file
// "/VM/config/PropertyDefaults", which adds to and overrides them.
class CFGADM_EXPORT MessageProperties : public FileProperties {
  public:
    using FileProperties::reinit;

    // The prototype (the text is ignored).
    explicit MessageProperties(const String& ignored);
    // An empty set with no file: a handle on the kind's known properties.
    MessageProperties();
    MessageProperties(const MessageProperties& other) = default;
    MessageProperties& operator=(const MessageProperties& other) = default;

    // The set in the file the key names, read at once.
    Properties* factory(const PropertiesID& key) const override;
    Symbol myFactoryName() const override { return factoryName; }
    knownInfo& getKnown() override;

    static const Path defaultsPath;
    static const Symbol factoryName;
    static knownInfo* defaults;
};

// The names of the fixed known message properties.
CFGADM_EXPORT extern const Symbol Binary_Filename;
CFGADM_EXPORT extern const Symbol Partial_Delivery;
CFGADM_EXPORT extern const Symbol Primary_Media;
CFGADM_EXPORT extern const Symbol Text_Type;
CFGADM_EXPORT extern const Symbol Proxy_Reply_To;
CFGADM_EXPORT extern const Symbol Original_From;
CFGADM_EXPORT extern const Symbol Deliver_CA_IP;
CFGADM_EXPORT extern const Symbol Voice_Comp_File_Name;
CFGADM_EXPORT extern const Symbol Fax_Comp_File_Name;
CFGADM_EXPORT extern const Symbol Text_Comp_File_Name;
CFGADM_EXPORT extern const Symbol Binary_Comp_File_Name;
