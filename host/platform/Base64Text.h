#pragma once

#include <openssl/evp.h>

#include <algorithm>
#include <string>
#include <string_view>

// Bytes as standard base64 with padding, and back: how bytes that may not be
// text travel inside JSON documents.
inline std::string base64Of(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// False, bytes unspecified, for text that is not padded base64.
inline bool bytesOfBase64(std::string_view text, std::string& bytes) {
    if (text.size() % 4 != 0) return false;
    bytes.assign(3 * (text.size() / 4), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                            reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return false;
    // The decoder counts the padding as zero bytes.
    std::size_t kept = text.find_last_not_of('=') + 1;
    std::size_t padding = text.size() - std::min(text.size(), kept);
    if (padding > 2) return false;
    bytes.resize(static_cast<std::size_t>(n) - padding);
    return true;
}
