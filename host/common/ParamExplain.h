#pragma once

#include <nlohmann/json.hpp>

#include "platform/Path.h"
#include "platform/String.h"

class VantorConfigurationInfo;

// How the configuration reader answers one key, shared by "vmcfg param
// explain --json" and the console's parameter lookup.

// {"key","types":[{"slot","type","type_value","holds","value","wins"}...],
// "value","winner"}: every precedence slot in order, whether it holds the
// key (and its value there), which slot wins; value and winner are null
// when no slot holds the key. found tells the same. The caller holds the
// run token.
nlohmann::json paramExplainJson(const VantorConfigurationInfo& info, const String& key,
                                bool& found);

// Why the configuration file at a platform path cannot be read by the
// reader (missing, a directory, not a regular file, no permission), or
// empty when it can be opened for reading.
String configFileProblem(const Path& path);
