#pragma once

#include <string>
#include <vector>

#include "host/platform/EtcdGateway.h"

// Where the index service keeps its records when they live in an etcd
// cluster, as an operator writes it:
//
//   etcd://HOST:PORT[,HOST:PORT...][?prefix=/vm/idx&timeout_ms=2000&tls=DIR]
//
// HOST is a name, an IPv4 address or a bracketed IPv6 address; PORT is
// 1..65535. `prefix` starts every record key (it starts with "/" and does not
// end with one), `timeout_ms` bounds every call to the cluster (1..600000),
// `tls` names a folder holding ca.pem, client.pem and client.key for TLS with
// client certificates. Anything else (another scheme, a missing port, a
// repeated endpoint or parameter, an unknown parameter, an empty value) is
// refused with a sentence saying what is wrong; nothing is guessed.
class EtcdIndexUrl {
  public:
    struct Endpoint {
        std::string host;  // without brackets for IPv6
        int port = 0;
    };

    static constexpr int kDefaultTimeoutMs = 2000;
    static constexpr const char* kDefaultPrefix = "/vm/idx";

    // Parses text into url. False with a sentence in error (url unspecified)
    // when the text is not a valid etcd URL.
    static bool parse(const std::string& text, EtcdIndexUrl& url, std::string& error);

    const std::vector<Endpoint>& endpoints() const { return endpoints_; }
    const std::string& prefix() const { return prefix_; }
    int timeoutMs() const { return timeoutMs_; }
    // Empty without TLS.
    const std::string& tlsDir() const { return tlsDir_; }

    // "HOST:PORT" (brackets kept for IPv6), as the gateway client takes it.
    static std::string authority(const Endpoint& endpoint);
    // The gateway settings the URL names: its endpoints and deadline, and
    // with tls, ca.pem, client.pem and client.key of that folder.
    EtcdGateway::Options gatewayOptions() const;

  private:
    bool parseEndpoints(const std::string& list, std::string& error);
    bool parseQuery(const std::string& query, std::string& error);
    bool setParameter(const std::string& name, const std::string& value, std::string& error);

    std::vector<Endpoint> endpoints_;
    std::string prefix_ = kDefaultPrefix;
    int timeoutMs_ = kDefaultTimeoutMs;
    std::string tlsDir_;
};
