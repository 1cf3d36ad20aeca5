#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>

#include "host/vmadmd/BoundedServer.h"
#include "host/vmadmd/ConsoleApi.h"
#include "host/vmadmd/RequestChecks.h"
#include "platform/String.h"

// The console's HTTP side: the embedded page, the JSON API of ConsoleApi
// behind the token and same-origin checks of RequestChecks, and the headers
// every answer carries (a Content-Security-Policy that lets the page run
// only its own script and style, nosniff, no referrer; no-store for the API).
// Connections are bounded in number, time and bytes (BoundedServer); a body
// over kMaxBody is refused with 413 as soon as it passes that size, and a
// request the checks refuse is answered before its body is read. The module
// sees one request at a time (ConsoleApi).
class ConsoleServer {
  public:
    // Largest request body accepted (413 beyond).
    static constexpr std::size_t kMaxBody = 64 * 1024;

    // The api must outlive the server.
    ConsoleServer(ConsoleApi& api, String token);

    // Binds the listening socket (port 0: any free port). The port bound, or
    // -1 when the address cannot be bound.
    int bind(const String& host, int port);
    // Serves until stop(); false when serving could not start.
    bool run();
    // Stops accepting; run() returns once the requests in progress are
    // answered. Called before run() has started serving, it waits for that
    // (or for run() to fail), so no stop is lost. Callable from any thread
    // but run()'s, and not from a signal handler.
    void stop();

  private:
    // The checks before routing, the headers after it, and the JSON bodies of
    // refusals and failures.
    void addHandlers();
    void addRoutes();
    // The checks every request passes before its route: the token for the
    // API, the same-origin rule for its POSTs.
    httplib::Server::HandlerResponse admit(const httplib::Request& request,
                                           httplib::Response& response) const;
    static void answer(httplib::Response& response, const ConsoleApi::Reply& reply);
    // The body into `body`, false with the answer (413, 400) in response
    // when it passes kMaxBody or cannot be read.
    static bool readBody(const httplib::ContentReader& reader, String& body,
                         httplib::Response& response);

    BoundedServer server_;
    ConsoleApi& api_;
    String token_;
    std::unique_ptr<RequestChecks> checks_;
    std::atomic<bool> ended_ = false;
};
