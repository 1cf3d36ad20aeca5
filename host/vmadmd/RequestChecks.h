#pragma once

#include <string_view>

#include "platform/String.h"

// The console's checks of where a request comes from, before it reaches the
// module (who is asking is ConsoleAuth's question).
//
// The Host check keeps out pages of other sites that reach the loopback listener through a
// name of their own resolving to 127.0.0.1 (DNS rebinding): their requests
// carry their own name in Host. The Origin check keeps out other sites' pages
// that post to the console from the administrator's browser (cross-site
// requests carry their Origin); tools that send no Origin (curl, the tests)
// are let through since they cannot be driven by a foreign page.
class RequestChecks {
  public:
    explicit RequestChecks(int port) : port_(port) {}

    // Whether a state-changing request may proceed: Host names the
    // listening port on a loopback name or address (localhost, 127.x.y.z,
    // [::1]), and Origin, when present, is "http://" and that Host.
    bool sameOrigin(std::string_view host, std::string_view origin, bool hasOrigin) const;

    // Whether a Host header's name part is a loopback name or address.
    static bool loopbackName(std::string_view name);

    // Whether a Content-Length header's text is a length (decimal digits
    // only, no sign or blank); the length in `length` when it is.
    static bool contentLength(std::string_view text, unsigned long long& length);

  private:
    int port_;
};
