#include "host/platform/TlsContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/platform/HostPlatform.h"

namespace {

String boxName(std::uint16_t box) {
    return "box" + std::to_string(box);
}

// The key must stay the box's secret: a key others can read is refused
// rather than used, since anybody on the host could then act as the box.
bool keyPrivate(const String& path, String& error) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot use the key " + path + ": " + std::strerror(errno);
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = "the key " + path + " may be read by others (mode " + mode +
                "); it must be readable by its owner only (chmod 600)";
        return false;
    }
    return true;
}

// Whether one of the authorities the store trusts (loaded from ca.pem)
// signed `list`.
bool signedBy(X509_CRL* list, X509_STORE* store) {
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        X509* issuer = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
        if (issuer != nullptr &&
            X509_NAME_cmp(X509_get_subject_name(issuer), X509_CRL_get_issuer(list)) == 0 &&
            X509_CRL_verify(list, X509_get0_pubkey(issuer)) == 1)
            return true;
    }
    return false;
}

// Adds the revocation lists of the file at `crl` to the context's store and
// turns the check of a peer's certificate against them on; without the file
// nothing is revoked. A list that the authority did not sign, that has
// expired or is not valid yet is refused here, naming the file, rather than
// failing every handshake later.
bool loadRevocations(SSL_CTX* ctx, const String& ca, const String& crl, String& error) {
    FILE* file = std::fopen(crl.c_str(), "r");
    if (file == nullptr) {
        if (errno == ENOENT) return true;
        error = "cannot read " + crl + ": " + std::strerror(errno);
        return false;
    }
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    int lists = 0;
    while (error.empty()) {
        X509_CRL* list = PEM_read_X509_CRL(file, nullptr, nullptr, nullptr);
        if (list == nullptr) break;
        const ASN1_TIME* next = X509_CRL_get0_nextUpdate(list);
        if (!signedBy(list, store))
            error = "the revocation list " + crl + " is not signed by the authority " + ca;
        else if (next != nullptr && X509_cmp_current_time(next) < 0)
            error = "the revocation list " + crl + " has expired: make it again (vm-certs.sh)";
        else if (X509_cmp_current_time(X509_CRL_get0_lastUpdate(list)) > 0)
            error = "the revocation list " + crl +
                    " is not valid yet (is this host's clock behind the issuer's?)";
        else if (X509_STORE_add_crl(store, list) == 1)
            ++lists;
        X509_CRL_free(list);
    }
    std::fclose(file);
    ERR_clear_error();  // the read that ended the file
    if (error.empty() && lists == 0) error = "the revocation list " + crl + " holds no list";
    return error.empty() && X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK) == 1;
}

bool configure(SSL_CTX* ctx, const String& directory, std::uint16_t box, String& error) {
    String ca = directory + "/ca.pem", cert = directory + "/" + boxName(box) + ".pem",
           key = directory + "/" + boxName(box) + ".key";
    for (const String& file : {ca, cert, key})
        if (::access(file.c_str(), R_OK) != 0) {
            error = "cannot read " + file + ": " + std::strerror(errno);
            return false;
        }
    if (!keyPrivate(key, error)) return false;
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION) != 1) {
        error = TlsContext::errors("TLS 1.3 is not available");
        return false;
    }
    if (SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr) != 1) {
        error = "cannot load the authority " + ca + ": " + TlsContext::errors("bad file");
        return false;
    }
    if (!loadRevocations(ctx, ca, directory + "/crl.pem", error)) return false;
    if (SSL_CTX_use_certificate_chain_file(ctx, cert.c_str()) != 1) {
        error = "cannot load the certificate " + cert + ": " + TlsContext::errors("bad file");
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        error =
            "cannot use the key " + key + " with " + cert + ": " + TlsContext::errors("bad file");
        return false;
    }
    if (!TlsContext::names(SSL_CTX_get0_certificate(ctx), box)) {
        error = "the certificate " + cert + " does not name " + boxName(box) + " (it has " +
                TlsContext::describe(SSL_CTX_get0_certificate(ctx)) + ")";
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<TlsContext> TlsContext::load(const String& directory, std::uint16_t box, Side side,
                                             String& error) {
    SSL_CTX* ctx = SSL_CTX_new(side == Side::server ? TLS_server_method() : TLS_client_method());
    if (ctx == nullptr) {
        error = errors("cannot make a TLS context");
        return nullptr;
    }
    if (!configure(ctx, directory, box, error)) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Tickets would only help clients that reconnect; connections are kept.
    SSL_CTX_set_num_tickets(ctx, 0);
    return std::unique_ptr<TlsContext>(new TlsContext(ctx, box));
}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

String TlsContext::defaultDirectory() {
    const char* named = std::getenv("VM_MSG_TLS");
    if (named != nullptr && *named != '\0') return named;
    return HostPlatform::hostPath(Path("/VM/config/tls"));
}

bool TlsContext::names(X509* certificate, std::uint16_t box) {
    String name = boxName(box);
    return certificate != nullptr && X509_check_host(certificate, name.data(), name.size(),
                                                     X509_CHECK_FLAG_NO_WILDCARDS, nullptr) == 1;
}

String TlsContext::describe(X509* certificate) {
    if (certificate == nullptr) return "no certificate";
    char subject[256] = {};
    X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
    String text = String("subject ") + subject;
    auto* sans = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; sans != nullptr && i < sk_GENERAL_NAME_num(sans); ++i) {
        const GENERAL_NAME* san = sk_GENERAL_NAME_value(sans, i);
        if (san->type != GEN_DNS) continue;
        const unsigned char* dns = ASN1_STRING_get0_data(san->d.dNSName);
        text += ", DNS:" + String(reinterpret_cast<const char*>(dns),
                                  static_cast<std::size_t>(ASN1_STRING_length(san->d.dNSName)));
    }
    GENERAL_NAMES_free(sans);
    return text;
}

String TlsContext::errors(const String& fallback) {
    String text;
    while (unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty()) text += "; ";
        text += line;
    }
    return text.empty() ? fallback : text;
}
