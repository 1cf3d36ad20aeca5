#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>

#include "host/vmadmd/BoundedServer.h"
#include "host/vmadmd/ConsoleApi.h"
#include "host/vmadmd/ConsoleAuth.h"
#include "host/vmadmd/RequestChecks.h"
#include "platform/String.h"

// The console's HTTP side: the embedded page, sign-in and sign-out
// (/api/session), the JSON API of ConsoleApi behind the credential checks of
// ConsoleAuth and the same-origin checks of RequestChecks, and the headers
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

    // The api and auth must outlive the server.
    ConsoleServer(ConsoleApi& api, ConsoleAuth& auth);

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
    // Every route: httplib tries a method's routes in the order they were
    // added and takes the first that matches.
    void addRoutes();
    // The checks every request passes before its route: a credential for
    // the API (but sign-in, which brings a token in its body), the
    // same-origin rule for everything there but GET and HEAD.
    httplib::Server::HandlerResponse admit(const httplib::Request& request,
                                           httplib::Response& response) const;
    static void answer(httplib::Response& response, const ConsoleApi::Reply& reply);
    // The user an admitted request is made for; false with the 401 in
    // response when its session ended since it was admitted.
    bool user(const httplib::Request& request, httplib::Response& response, String& name) const;
    void addSessionRoutes();
    // The posts that change something, each after its sign-in check, then
    // the refusal of every other body (read under the limit first).
    void addChangeRoutes();
    // The API's reads.
    void addReadRoutes();
    // The body into `body`, false with the answer (413, 400) in response
    // when it passes kMaxBody or cannot be read.
    static bool readBody(const httplib::ContentReader& reader, String& body,
                         httplib::Response& response);

    BoundedServer server_;
    ConsoleApi& api_;
    ConsoleAuth& auth_;
    std::unique_ptr<RequestChecks> checks_;
    std::atomic<bool> ended_ = false;
};
