#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>

#include "platform/String.h"

// The TLS 1.3 settings of one side of the messaging between hosts, loaded
// from a certificate folder: "ca.pem" (the authority both sides trust),
// "box<N>.pem" (this box's certificate, named box<N> in its CN and/or a SAN
// DNS name) and "box<N>.key" (its private key, readable by its owner only).
// Both sides present their certificate and require the peer's, signed by
// the authority; a client also requires the server's certificate to name
// the box it asked for (expectServer). With "crl.pem" (the authority's
// revocation list) in the folder, a peer certificate it lists is refused.
//
// load() refuses, in words naming the file: a missing or unreadable file, a
// key that the group or others may read, a key that does not match the
// certificate, a certificate that does not name box<N>, a revocation list
// that cannot be read, is not the authority's, has expired or is not valid
// yet. Owns its SSL_CTX
// (freed on destruction; connections made from it keep their own reference).
// Thread-safe once loaded.
class TlsContext {
  public:
    enum class Side { client, server };

    static std::unique_ptr<TlsContext> load(const String& directory, std::uint16_t box, Side side,
                                            String& error);
    // VM_MSG_TLS when set, else the platform path "/VM/config/tls" under the root.
    static String defaultDirectory();
    // Whether the certificate names box<box> (SAN DNS name, or CN without one).
    static bool names(X509* certificate, std::uint16_t box);
    // The certificate's subject and SAN DNS names, for messages.
    static String describe(X509* certificate);
    // OpenSSL's queued errors as text (the queue is emptied); `fallback` when none.
    static String errors(const String& fallback);

    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* get() const { return ctx_; }
    std::uint16_t box() const { return box_; }

  private:
    TlsContext(SSL_CTX* ctx, std::uint16_t box) : ctx_(ctx), box_(box) {}

    SSL_CTX* ctx_;
    std::uint16_t box_;
};
