#pragma once

#include <string_view>

#include "platform/String.h"

// Bytes as lower-case hexadecimal, two digits each: how keys, tokens and
// bytes that are not text are shown in traces, files and JSON.
inline String hexBytes(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    String hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}
