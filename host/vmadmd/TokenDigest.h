#pragma once

#include <string_view>

#include "platform/String.h"

// Digests of the console's secrets (user tokens, session ids), so that what
// is stored or looked up is never the secret itself.
class TokenDigest {
  public:
    // SHA-256 (OpenSSL EVP) of salt then text, as 64 lower-case hex digits;
    // empty when OpenSSL fails.
    static String of(std::string_view salt, std::string_view text);

    // Whether a and b are equal, in a time that depends on their length
    // only, so that an answer's time tells nothing of how much matched.
    static bool same(std::string_view a, std::string_view b);
};
