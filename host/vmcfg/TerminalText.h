#pragma once

#include <cstdio>

#include "platform/String.h"

// Bytes shown on a terminal by the address and message commands: printable
// ASCII as it is, a backslash doubled, everything else as \xNN, so a stored
// text cannot move the cursor. JSON output carries the exact bytes.
inline String terminalText(const String& bytes) {
    String shown;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            shown += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    return shown;
}
