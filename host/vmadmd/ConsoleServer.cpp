#include "host/vmadmd/ConsoleServer.h"

#include "host/common/JsonText.h"
#include "host/vmadmd/EmbeddedPage.h"

namespace {

using Server = httplib::Server;

constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
constexpr const char* kJson = "application/json; charset=utf-8";
// Enough threads for a few browsers and scripts with kept-alive connections;
// the module itself serves one request at a time.
constexpr std::size_t kThreads = 16;

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

void setJson(httplib::Response& response, const nlohmann::json& body) {
    String text = jsonText(body);
    response.set_content(text, kJson);
}

}  // namespace

ConsoleServer::ConsoleServer(ConsoleApi& api, String token) : api_(api), token_(std::move(token)) {
    server_.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server_.set_payload_max_length(kMaxBody);
    server_.set_keep_alive_max_count(10000);
    server_.set_tcp_nodelay(true);
    server_.set_default_headers({{"Content-Security-Policy", kPolicy},
                                 {"X-Content-Type-Options", "nosniff"},
                                 {"Referrer-Policy", "no-referrer"}});
    server_.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return admit(request, response);
        });
    server_.set_post_routing_handler(
        [](const httplib::Request& request, httplib::Response& response) {
            if (isApi(request)) response.set_header("Cache-Control", "no-store");
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
    addRoutes();
}

httplib::Server::HandlerResponse ConsoleServer::admit(const httplib::Request& request,
                                                      httplib::Response& response) const {
    if (!isApi(request)) return Server::HandlerResponse::Unhandled;
    if (!checks_->authorized(request.get_header_value("Authorization"))) {
        response.set_header("WWW-Authenticate", "Bearer");
        answer(response, ConsoleApi::error(401, "a valid bearer token is required"));
        return Server::HandlerResponse::Handled;
    }
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

void ConsoleServer::addRoutes() {
    auto page = [](const char* name) {
        return [name](const httplib::Request&, httplib::Response& response) {
            const EmbeddedFile* file = findEmbedded(name);
            if (file == nullptr) {
                response.status = 404;
                return;
            }
            response.set_header("Cache-Control", "no-cache");
            response.set_content(file->bytes.data(), file->bytes.size(), embeddedContentType(name));
        };
    };
    server_.Get("/", page("index.html"));
    server_.Get("/index.html", page("index.html"));
    server_.Get("/console.js", page("console.js"));
    server_.Get("/console.css", page("console.css"));
    server_.Get("/api/session", [this](const httplib::Request&, httplib::Response& response) {
        answer(response, api_.session());
    });
    server_.Post(R"(/api/forms/([^/]+)/([^/]+))",
                 [this](const httplib::Request& request, httplib::Response& response) {
                     answer(response, api_.form(request.matches[1].str(), request.matches[2].str(),
                                                request.body));
                 });
    server_.Get(R"(/api/params/(.+))",
                [this](const httplib::Request& request, httplib::Response& response) {
                    answer(response, api_.param(request.matches[1].str()));
                });
    server_.Get("/api/props", [this](const httplib::Request& request, httplib::Response& response) {
        answer(response, api_.props(request.params));
    });
}

int ConsoleServer::bind(const String& host, int port) {
    int bound = port == 0                          ? server_.bind_to_any_port(host)
                : server_.bind_to_port(host, port) ? port
                                                   : -1;
    if (bound > 0) checks_ = std::make_unique<RequestChecks>(token_, bound);
    return bound > 0 ? bound : -1;
}

bool ConsoleServer::run() {
    return checks_ != nullptr && server_.listen_after_bind();
}

void ConsoleServer::stop() {
    server_.stop();
}
