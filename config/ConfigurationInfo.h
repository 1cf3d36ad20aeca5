#pragma once

#include "config/VantorConfigurationInfo.h"
#include "platform/Export.h"
#include "platform/Path.h"

// The module's configuration-parameter reader. Callers construct it on
// defaultConfigFile; it keeps the empty default of its base, so a reader
// built without a file still ends with "doInitialize(): file required".
class CFGADM_EXPORT ConfigurationInfo : public VantorConfigurationInfo {
  public:
    using VantorConfigurationInfo::VantorConfigurationInfo;
    ~ConfigurationInfo() override;

    // "/VM/config/config_params".
    static const Path defaultConfigFile;
};
