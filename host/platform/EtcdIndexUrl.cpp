#include "host/platform/EtcdIndexUrl.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {

constexpr char kScheme[] = "etcd://";
constexpr int kMaxTimeoutMs = 600000;

// A decimal number in [low, high] with nothing around it; -1 otherwise.
long boundedNumber(const std::string& text, long low, long high) {
    if (text.empty() || text.size() > 9) return -1;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    long value = std::stol(text);
    return value < low || value > high ? -1 : value;
}

bool hostNameChar(unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-' || c == '_';
}

bool parseEndpoint(const std::string& item, EtcdIndexUrl::Endpoint& endpoint, std::string& error) {
    std::size_t colon;
    if (!item.empty() && item[0] == '[') {
        std::size_t close = item.find(']');
        if (close == std::string::npos || close == 1) {
            error = "bad IPv6 address in \"" + item + "\"";
            return false;
        }
        endpoint.host = item.substr(1, close - 1);
        auto v6 = [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; };
        if (!std::all_of(endpoint.host.begin(), endpoint.host.end(), v6)) {
            error = "bad IPv6 address in \"" + item + "\"";
            return false;
        }
        colon = close + 1;
        if (colon >= item.size() || item[colon] != ':') colon = std::string::npos;
    } else {
        colon = item.rfind(':');
        endpoint.host = item.substr(0, colon);
        if (endpoint.host.empty() ||
            !std::all_of(endpoint.host.begin(), endpoint.host.end(), hostNameChar)) {
            error = "bad host in \"" + item + "\"";
            return false;
        }
    }
    if (colon == std::string::npos) {
        error = "endpoint \"" + item + "\" has no port (HOST:PORT)";
        return false;
    }
    long port = boundedNumber(item.substr(colon + 1), 1, 65535);
    if (port < 0) {
        error = "bad port in \"" + item + "\" (1..65535)";
        return false;
    }
    endpoint.port = static_cast<int>(port);
    return true;
}

}  // namespace

bool EtcdIndexUrl::parse(const std::string& text, EtcdIndexUrl& url, std::string& error) {
    url = EtcdIndexUrl();
    if (text.compare(0, sizeof kScheme - 1, kScheme) != 0) {
        error = "not an etcd URL (etcd://HOST:PORT[,HOST:PORT...][?parameters]): \"" + text + "\"";
        return false;
    }
    std::string rest = text.substr(sizeof kScheme - 1);
    std::size_t question = rest.find('?');
    if (!url.parseEndpoints(rest.substr(0, question), error)) return false;
    return question == std::string::npos || url.parseQuery(rest.substr(question + 1), error);
}

std::string EtcdIndexUrl::authority(const Endpoint& endpoint) {
    bool v6 = endpoint.host.find(':') != std::string::npos;
    std::string host = v6 ? "[" + endpoint.host + "]" : endpoint.host;
    return host + ":" + std::to_string(endpoint.port);
}

bool EtcdIndexUrl::parseEndpoints(const std::string& list, std::string& error) {
    if (list.empty()) {
        error = "no endpoint (etcd://HOST:PORT)";
        return false;
    }
    std::set<std::string> seen;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma - start);
        Endpoint endpoint;
        if (item.empty()) {
            error = "empty endpoint in \"" + list + "\"";
            return false;
        }
        if (!parseEndpoint(item, endpoint, error)) return false;
        if (!seen.insert(authority(endpoint)).second) {
            error = "endpoint \"" + item + "\" given twice";
            return false;
        }
        endpoints_.push_back(endpoint);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool EtcdIndexUrl::parseQuery(const std::string& query, std::string& error) {
    std::set<std::string> seen;
    std::size_t start = 0;
    while (true) {
        std::size_t amp = query.find('&', start);
        std::string item = query.substr(start, amp - start);
        std::size_t equals = item.find('=');
        std::string name = item.substr(0, equals);
        if (equals == std::string::npos || equals + 1 == item.size()) {
            error = "parameter \"" + item + "\" has no value (NAME=VALUE)";
            return false;
        }
        if (!seen.insert(name).second) {
            error = "parameter \"" + name + "\" given twice";
            return false;
        }
        if (!setParameter(name, item.substr(equals + 1), error)) return false;
        if (amp == std::string::npos) return true;
        start = amp + 1;
    }
}

bool EtcdIndexUrl::setParameter(const std::string& name, const std::string& value,
                                std::string& error) {
    if (name == "prefix") {
        // Without a leading "/" and with a trailing one, record keys would
        // not read as paths ("vm/idx" + "/cos" or "/vm/idx/" + "/cos").
        if (value[0] != '/' || value.back() == '/') {
            error = "prefix \"" + value + "\" must start with \"/\" and not end with one";
            return false;
        }
        prefix_ = value;
    } else if (name == "timeout_ms") {
        long ms = boundedNumber(value, 1, kMaxTimeoutMs);
        if (ms < 0) {
            error = "timeout_ms \"" + value + "\" is not a number of milliseconds in 1..600000";
            return false;
        }
        timeoutMs_ = static_cast<int>(ms);
    } else if (name == "tls") {
        tlsDir_ = value;
    } else {
        error = "unknown parameter \"" + name + "\" (prefix, timeout_ms, tls)";
        return false;
    }
    return true;
}

EtcdGateway::Options EtcdIndexUrl::gatewayOptions() const {
    EtcdGateway::Options options;
    for (const Endpoint& endpoint : endpoints_) options.endpoints.push_back(authority(endpoint));
    options.timeoutMs = timeoutMs_;
    if (!tlsDir_.empty()) {
        options.caFile = tlsDir_ + "/ca.pem";
        options.certFile = tlsDir_ + "/client.pem";
        options.keyFile = tlsDir_ + "/client.key";
    }
    return options;
}
