#pragma once

#include "properties/FileProperties.h"

// The platform's one system property set, in "/VM/config/sys_prop_db". Every
// process writes it itself. Its one fixed known property is SysLang
// ("QRT SYSTEM supported languages"); "/VM/config/sys_prop_db.defaults" adds
// to and overrides the known properties.
class CFGADM_EXPORT SystemProperties : public FileProperties {
  public:
    using FileProperties::reinit;

    // The prototype (the text is ignored).
    explicit SystemProperties(const String& ignored);
    // The system set, read at once.
    SystemProperties();
    SystemProperties(const SystemProperties& other) = default;
    SystemProperties& operator=(const SystemProperties& other) = default;

    // Rereads the file when another process changed it since the last read.
    // True only when the set was reloaded (and the reread succeeded).
    bool update();

    // The system set, whatever the key.
    Properties* factory(const PropertiesID& key) const override;
    Symbol myFactoryName() const override { return factoryName; }
    knownInfo& getKnown() override;

    static const Path filePath;
    static const Path defaultsPath;
    static const Symbol factoryName;
    static knownInfo* defaults;
};

CFGADM_EXPORT extern const Symbol SysLang;
