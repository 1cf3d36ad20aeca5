#pragma once

#include <nlohmann/json.hpp>

#include "platform/String.h"

// One line of JSON output. Names and values are bytes and JSON wants UTF-8,
// so bytes that are not UTF-8 are replaced rather than aborting the output.
inline String jsonText(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
