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

    // A message the code shared with vmcfg wrote for its standard error,
    // for the page: without the program's name and the final newlines.
    static String withoutProgram(String text) {
        if (text.rfind("vmcfg: ", 0) == 0) text.erase(0, 7);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
};
