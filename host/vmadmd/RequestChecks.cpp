#include "host/vmadmd/RequestChecks.h"

#include <arpa/inet.h>

#include <charconv>

bool RequestChecks::loopbackName(std::string_view name) {
    if (name == "localhost" || name == "[::1]") return true;
    String text(name);
    in_addr address;
    // inet_pton takes only the dotted quad, so "127.1" and the like are refused.
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1 &&
           (ntohl(address.s_addr) >> 24) == 127;
}

bool RequestChecks::sameOrigin(std::string_view host, std::string_view origin,
                               bool hasOrigin) const {
    std::size_t colon = host.rfind(':');
    // "[::1]" alone has colons but no port after its bracket.
    if (colon != std::string_view::npos && host.find(']', colon) != std::string_view::npos)
        colon = std::string_view::npos;
    std::string_view name = host.substr(0, colon);
    int port = 80;
    if (colon != std::string_view::npos) {
        std::string_view digits = host.substr(colon + 1);
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
            return false;
    }
    if (port != port_ || !loopbackName(name)) return false;
    return !hasOrigin || (origin.starts_with("http://") && origin.substr(7) == host);
}

bool RequestChecks::contentLength(std::string_view text, unsigned long long& length) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}
