#include "config/ConfigurationInfo.h"

const Path ConfigurationInfo::defaultConfigFile = "/VM/config/config_params";

ConfigurationInfo::~ConfigurationInfo() = default;
