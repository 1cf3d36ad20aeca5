#include "host/vmadmd/ConsoleServer.h"

#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "host/common/JsonText.h"
#include "host/vmadmd/EmbeddedPage.h"

namespace {

using Server = httplib::Server;

constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
constexpr const char* kJson = "application/json; charset=utf-8";

// What httplib's own refusals mean, for the page.
String statusText(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 404:
            return "not found";
        case 405:
            return "method not allowed";
        case 413:
            return "the request body is larger than 64 KiB";
        case 414:
            return "the request line is too long";
        default:
            return "HTTP status " + std::to_string(status);
    }
}

bool isApi(const httplib::Request& request) {
    return request.path.rfind("/api/", 0) == 0;
}

bool isSignIn(const httplib::Request& request) {
    return request.method == "POST" && request.path == "/api/session";
}

// Whether the request says it has a body.
bool hasBody(const httplib::Request& request) {
    return request.has_header("Transfer-Encoding") ||
           request.get_header_value("Content-Length").find_first_not_of('0') != String::npos;
}

// Whether the connection ends after this answer because the request's body
// may not have been read to its end (refused, chunked, or on a method whose
// body no route reads): the client must not send another request on it.
bool endsConnection(const httplib::Request& request, const httplib::Response& response) {
    bool read = response.status < 400 && !request.has_header("Transfer-Encoding") &&
                (request.method == "POST" || request.method == "PUT" || request.method == "PATCH" ||
                 request.method == "DELETE");
    return hasBody(request) && !read;
}

// Whether the request says its body is over `limit` (a length that is no
// number counts as over: it cannot be read safely).
bool bodyOver(const httplib::Request& request, std::size_t limit) {
    if (!request.has_header("Content-Length")) return false;
    unsigned long long length = 0;
    return !RequestChecks::contentLength(request.get_header_value("Content-Length"), length) ||
           length > limit;
}

void setJson(httplib::Response& response, const nlohmann::json& body) {
    String text = jsonText(body);
    response.set_content(text, kJson);
}

}  // namespace

ConsoleServer::ConsoleServer(ConsoleApi& api, ConsoleAuth& auth) : api_(api), auth_(auth) {
    server_.set_payload_max_length(kMaxBody);
    server_.set_keep_alive_max_count(10000);
    server_.set_tcp_nodelay(true);
    // SO_REUSEADDR lets a restart bind while old connections linger; httplib's
    // default SO_REUSEPORT would let a second console share the port and
    // take half of the connections instead of failing to start.
    server_.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_.set_default_headers({{"Content-Security-Policy", kPolicy},
                                 {"X-Content-Type-Options", "nosniff"},
                                 {"Referrer-Policy", "no-referrer"}});
    addHandlers();
    addRoutes();
}

void ConsoleServer::addHandlers() {
    server_.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return admit(request, response);
        });
    server_.set_expect_100_continue_handler([this](const httplib::Request& request,
                                                   httplib::Response& response) {
        return admit(request, response) == Server::HandlerResponse::Handled ? response.status : 100;
    });
    server_.set_post_routing_handler(
        [](const httplib::Request& request, httplib::Response& response) {
            // An error answer has it already (httplib's headers repeat).
            if (isApi(request) && !response.has_header("Cache-Control"))
                response.set_header("Cache-Control", "no-store");
            if (endsConnection(request, response)) response.set_header("Connection", "close");
        });
    // Refusals httplib makes itself (413, 404, 400) answer as the API does.
    server_.set_error_handler(Server::HandlerWithResponse(
        [](const httplib::Request& request, httplib::Response& response) {
            if (isApi(request)) response.set_header("Cache-Control", "no-store");
            if (!response.body.empty()) return Server::HandlerResponse::Unhandled;
            setJson(response, {{"error", statusText(response.status)}});
            return Server::HandlerResponse::Handled;
        }));
    server_.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr failure) {
            String text = "internal error";
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                text += String(": ") + e.what();
            } catch (...) {
            }
            response.status = 500;
            setJson(response, {{"error", text}});
        });
}

httplib::Server::HandlerResponse ConsoleServer::admit(const httplib::Request& request,
                                                      httplib::Response& response) const {
    // Each refusal here comes before any of the body is read.
    if (isApi(request) && !isSignIn(request)) {
        ConsoleAuth::Verdict verdict = auth_.admit(request.get_header_value("Authorization"));
        if (!verdict.ok()) {
            if (verdict.status == 401) response.set_header("WWW-Authenticate", "Bearer");
            answer(response, ConsoleApi::error(verdict.status, verdict.error));
            return Server::HandlerResponse::Handled;
        }
    }
    if (bodyOver(request, kMaxBody)) {
        answer(response, ConsoleApi::error(413, statusText(413)));
        return Server::HandlerResponse::Handled;
    }
    if (request.is_multipart_form_data()) {
        answer(response, ConsoleApi::error(415, "multipart bodies are not accepted"));
        return Server::HandlerResponse::Handled;
    }
    if (!isApi(request)) return Server::HandlerResponse::Unhandled;
    if (request.method != "GET" && request.method != "HEAD" &&
        !checks_->sameOrigin(request.get_header_value("Host"), request.get_header_value("Origin"),
                             request.has_header("Origin"))) {
        answer(response,
               ConsoleApi::error(403,
                                 "cross-origin request refused (Host or Origin is not this "
                                 "console on a loopback address)"));
        return Server::HandlerResponse::Handled;
    }
    return Server::HandlerResponse::Unhandled;
}

void ConsoleServer::answer(httplib::Response& response, const ConsoleApi::Reply& reply) {
    response.status = reply.status;
    setJson(response, reply.body);
}

bool ConsoleServer::user(const httplib::Request& request, httplib::Response& response,
                         String& name) const {
    ConsoleAuth::Verdict verdict = auth_.who(request.get_header_value("Authorization"));
    if (!verdict.ok()) {
        if (verdict.status == 401) response.set_header("WWW-Authenticate", "Bearer");
        answer(response, ConsoleApi::error(verdict.status, verdict.error));
        return false;
    }
    name = verdict.user;
    return true;
}

bool ConsoleServer::readBody(const httplib::ContentReader& reader, String& body,
                             httplib::Response& response) {
    bool over = false;
    bool read = reader([&](const char* data, std::size_t size) {
        over = body.size() + size > kMaxBody;
        if (!over) body.append(data, size);
        return !over;
    });
    if (over) {
        answer(response, ConsoleApi::error(413, statusText(413)));
    } else if (!read) {
        answer(response, ConsoleApi::error(400, "the request body could not be read"));
    }
    return read && !over;
}

void ConsoleServer::addRoutes() {
    // Any file of the page by its name (index.html, console.js, console.css,
    // and whatever else the page brings), "/" being index.html.
    auto page = [](const httplib::Request& request, httplib::Response& response) {
        String name = request.matches.size() > 1 ? request.matches[1].str() : "index.html";
        const EmbeddedFile* file = findEmbedded(name);
        if (file == nullptr) {
            response.status = 404;
            return;
        }
        response.set_header("Cache-Control", "no-cache");
        response.set_content(file->bytes.data(), file->bytes.size(), embeddedContentType(name));
    };
    server_.Get("/", page);
    server_.Get(R"(/([A-Za-z0-9_-][A-Za-z0-9_.-]*))", page);
    addSessionRoutes();
    addChangeRoutes();
    addReadRoutes();
}

void ConsoleServer::addChangeRoutes() {
    server_.Post(R"(/api/forms/([^/]+)/([^/]+))", [this](const httplib::Request& request,
                                                         httplib::Response& response,
                                                         const httplib::ContentReader& reader) {
        String body, name;
        if (!user(request, response, name) || !readBody(reader, body, response)) return;
        answer(response, api_.form(name, request.matches[1].str(), request.matches[2].str(), body));
    });
    server_.Post("/api/revert", [this](const httplib::Request& request, httplib::Response& response,
                                       const httplib::ContentReader& reader) {
        String body, name;
        if (user(request, response, name) && readBody(reader, body, response))
            answer(response, api_.revert(name, body));
    });
    server_.Post("/api/props/edit",
                 [this](const httplib::Request& request, httplib::Response& response,
                        const httplib::ContentReader& reader) {
                     String body, name;
                     if (user(request, response, name) && readBody(reader, body, response))
                         answer(response, api_.edit(name, body));
                 });
    // Every other body is read under the same limit before the 404: left to
    // httplib, a chunked body would be read whole.
    auto nowhere = [](const httplib::Request&, httplib::Response& response,
                      const httplib::ContentReader& reader) {
        String body;
        if (readBody(reader, body, response)) response.status = 404;
    };
    server_.Post(".*", nowhere);
    server_.Put(".*", nowhere);
    server_.Patch(".*", nowhere);
    server_.Delete(".*", nowhere);
}

void ConsoleServer::addReadRoutes() {
    // Before the key route, which would take "check" for a key.
    server_.Get("/api/params",
                [this](const httplib::Request& request, httplib::Response& response) {
                    answer(response, api_.params(request.params));
                });
    server_.Get("/api/params/check",
                [this](const httplib::Request& request, httplib::Response& response) {
                    answer(response, api_.paramCheck(request.params));
                });
    server_.Get("/api/paramfiles", [this](const httplib::Request&, httplib::Response& response) {
        answer(response, api_.paramFiles());
    });
    server_.Get(R"(/api/params/(.+))",
                [this](const httplib::Request& request, httplib::Response& response) {
                    answer(response, api_.param(request.matches[1].str(), request.params));
                });
    server_.Get("/api/known", [this](const httplib::Request& request, httplib::Response& response) {
        answer(response, api_.known(request.params));
    });
    server_.Get("/api/known/fixed",
                [this](const httplib::Request& request, httplib::Response& response) {
                    answer(response, api_.fixedKnown(request.params));
                });
    server_.Get("/api/props/check",
                [this](const httplib::Request& request, httplib::Response& response) {
                    answer(response, api_.propsCheck(request.params));
                });
    server_.Get("/api/props", [this](const httplib::Request& request, httplib::Response& response) {
        answer(response, api_.props(request.params));
    });
    server_.Get("/api/history",
                [this](const httplib::Request& request, httplib::Response& response) {
                    answer(response, api_.history(request.params));
                });
}

void ConsoleServer::addSessionRoutes() {
    server_.Get("/api/session",
                [this](const httplib::Request& request, httplib::Response& response) {
                    String name;
                    if (!user(request, response, name)) return;
                    ConsoleApi::Reply reply = api_.session();
                    reply.body["user"] = name;
                    answer(response, reply);
                });
    // Sign-in: {"token":"..."} for a session, whose id the page sends as its
    // bearer credential from then on.
    server_.Post("/api/session", [this](const httplib::Request&, httplib::Response& response,
                                        const httplib::ContentReader& reader) {
        String body, id;
        if (!readBody(reader, body, response)) return;
        nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
        auto token = parsed.is_object() ? parsed.find("token") : parsed.end();
        if (!parsed.is_object() || token == parsed.end() || !token->is_string())
            return answer(response, ConsoleApi::error(400, "the body must be {\"token\":\"...\"}"));
        ConsoleAuth::Verdict verdict = auth_.signIn(token->get<String>(), id);
        if (!verdict.ok())
            return answer(response, ConsoleApi::error(verdict.status, verdict.error));
        ConsoleApi::Reply reply = api_.session();
        reply.body["user"] = verdict.user;
        reply.body["session"] = id;
        answer(response, reply);
    });
    server_.Delete("/api/session",
                   [this](const httplib::Request& request, httplib::Response& response,
                          const httplib::ContentReader& reader) {
                       String body;
                       if (!readBody(reader, body, response)) return;
                       bool ended = auth_.signOut(request.get_header_value("Authorization"));
                       answer(response, {200, {{"signed_out", ended}}});
                   });
}

int ConsoleServer::bind(const String& host, int port) {
    int bound = port == 0 ? server_.bindAnyPort(host) : server_.bindPort(host, port) ? port : -1;
    if (bound > 0) checks_ = std::make_unique<RequestChecks>(bound);
    return bound > 0 ? bound : -1;
}

bool ConsoleServer::run() {
    bool served = checks_ != nullptr && server_.listen_after_bind();
    ended_ = true;
    return served;
}

void ConsoleServer::stop() {
    // httplib ignores a stop before its loop runs, and a signal may come
    // right after the address is printed: wait for the loop (or its end).
    while (!server_.is_running() && !ended_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_.stopServing();
}
