#include "host/vmadmd/TokenDigest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

#include "host/platform/HexText.h"

String TokenDigest::of(std::string_view salt, std::string_view text) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), salt.data(), salt.size()) != 1 ||
        EVP_DigestUpdate(context.get(), text.data(), text.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &size) != 1)
        return String();
    return hexBytes(std::string_view(reinterpret_cast<const char*>(digest), size));
}

bool TokenDigest::same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}
