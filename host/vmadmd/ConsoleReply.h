#pragma once

#include <nlohmann/json.hpp>

#include "platform/String.h"

// What the console's JSON API answers to one call: an HTTP status and a JSON
// body, {"error":"text"} for a refusal. Shared by vmadmd and the API library
// it loads (ApiLibrary.h).
struct ConsoleReply {
    int status = 200;
    nlohmann::json body;

    static ConsoleReply error(int status, const String& text) {
        return {status, nlohmann::json{{"error", text}}};
    }
};
