#include "host/platform/TlsContext.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
