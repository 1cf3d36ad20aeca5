#pragma once

#include <map>

#include "platform/Export.h"
#include "platform/String.h"
#include "platform/Symbol.h"

// One precedence type of a configuration-parameter file: its name, the value
// its expression resolved to when the file was read, and the parameters that
// the file's matching lines gave it. Created by the parser and owned by the
// reader that parsed the file.
class CFGADM_EXPORT VantorConfigurationInfoDB {
  public:
    using Params = std::map<Symbol, String>;

    // Resolves expression now (environment read, commands run). When the
    // expression can't be resolved the value stays empty and a message goes to
    // standard error.
    VantorConfigurationInfoDB(const Symbol& type, const String& expression,
                              unsigned long debugLevel);
    VantorConfigurationInfoDB(const VantorConfigurationInfoDB&) = delete;
    VantorConfigurationInfoDB& operator=(const VantorConfigurationInfoDB&) = delete;

    const Symbol& paramType() const { return paramType_; }
    const String& paramValue() const { return paramValue_; }
    // paramValue() interned once, so lookups that report it stay cheap.
    const Symbol& paramValueSymbol() const { return paramValueSymbol_; }
    // Key to value, the last stored line of the file winning for a key.
    const Params& params() const { return params_; }
    Params& params() { return params_; }

  private:
    Symbol paramType_;
    String paramValue_;
    Symbol paramValueSymbol_;
    Params params_;
};
