#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

#include "host/platform/HexText.h"
#include "platform/String.h"

// One line of JSON output. Names and values are bytes and JSON wants UTF-8,
// so bytes that are not UTF-8 are replaced rather than aborting the output.
inline String jsonText(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF): what JSON can carry without replacing a byte.
inline bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0 || text.size() - i <= static_cast<std::size_t>(more)) return false;
        unsigned long code = more == 0 ? c : c & (0x3f >> more);
        for (int k = 1; k <= more; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next >> 6) != 2) return false;
            code = code << 6 | (next & 0x3f);
        }
        static constexpr unsigned long kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[more] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += more + 1;
    }
    return true;
}

// Sets object[field] to bytes; when they are not UTF-8, which JSON would
// replace, also object[field + "_hex"] to their hexadecimal form, so that a
// reader gets the exact bytes back.
inline void putBytes(nlohmann::json& object, const char* field, std::string_view bytes) {
    object[field] = bytes;
    if (!validUtf8(bytes)) object[String(field) + "_hex"] = hexBytes(bytes);
}

// The bytes of hexadecimal text (either case); false when it is not pairs of
// hexadecimal digits.
inline bool bytesOfHex(std::string_view hex, String& bytes) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    if (hex.size() % 2) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}
