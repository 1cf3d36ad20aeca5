#include "host/platform/EtcdGateway.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>

#include "host/platform/Base64Text.h"

using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

// httplib names its errors for programmers ("Connection"); an administrator
// reads why the member did not answer.
std::string inWords(httplib::Error error) {
    switch (error) {
        case httplib::Error::Connection:
            return "could not connect";
        case httplib::Error::ConnectionTimeout:
            return "connect timed out";
        case httplib::Error::Read:
            return "no reply in time, or the connection broke";
        case httplib::Error::Write:
            return "could not send the request";
        case httplib::Error::SSLConnection:
            return "TLS handshake failed";
        case httplib::Error::SSLLoadingCerts:
            return "could not load the TLS certificates";
        case httplib::Error::SSLServerVerification:
            return "the member's certificate was not accepted";
        default:
            return httplib::to_string(error);
    }
}

// etcd writes 64-bit numbers as JSON strings and leaves out fields whose value
// is zero; some of its messages use camelCase names, others snake_case.
std::int64_t numberAt(const json& object, const char* name, const char* otherName = nullptr) {
    auto found = object.find(name);
    if (found == object.end() && otherName) found = object.find(otherName);
    if (found == object.end()) return 0;
    if (found->is_number()) return found->get<std::int64_t>();
    if (!found->is_string()) return 0;
    try {
        return std::stoll(found->get<std::string>());
    } catch (...) {
        return 0;
    }
}

std::string idAt(const json& object, const char* name) {
    auto found = object.find(name);
    if (found == object.end()) return "";
    return found->is_string() ? found->get<std::string>() : found->dump();
}

// Refusals of a cluster without a leader or too busy: another member, or the
// same one a moment later, may take a read. Those after which a write's
// outcome is unknown are marked by ambiguousRefusal.
bool ambiguousRefusal(const std::string& message) {
    return message.find("timed out") != std::string::npos ||
           message.find("leader changed") != std::string::npos;
}

bool transientRefusal(const std::string& message, int grpcCode) {
    static const char* const kTransient[] = {"no leader",      "leader changed",
                                             "not capable",    "too many requests",
                                             "server stopped", "request timed out"};
    if (grpcCode == 14 || grpcCode == 4) return true;  // UNAVAILABLE, DEADLINE_EXCEEDED
    return std::any_of(std::begin(kTransient), std::end(kTransient),
                       [&](const char* text) { return message.find(text) != std::string::npos; });
}

// The gateway's error body, {"error": ..., "code": <gRPC code>}.
EtcdGateway::Result refusal(int status, const std::string& answer, const std::string& member,
                            bool& transient) {
    json body = json::parse(answer, nullptr, false);
    std::string message = "HTTP " + std::to_string(status);
    int code = 0;
    if (body.is_object() && body.contains("error") && body["error"].is_string()) {
        message = body["error"].get<std::string>();
        code = static_cast<int>(numberAt(body, "code"));
    }
    transient = transientRefusal(message, code);
    using Outcome = EtcdGateway::Outcome;
    // etcd's own check says "request is too large"; gRPC's size limit, a
    // little above it, says "larger than max".
    if (message.find("too large") != std::string::npos ||
        message.find("larger than max") != std::string::npos)
        return {Outcome::TooLarge, "request too large for the etcd cluster (" + message + ")"};
    Outcome outcome = transient ? Outcome::Unavailable : Outcome::Failed;
    return {outcome, "etcd member " + member + " refused the request: " + message};
}

bool readable(const std::string& file) {
    return ::access(file.c_str(), R_OK) == 0;
}

}  // namespace

struct EtcdGateway::Impl {
    Options options;
    std::vector<std::unique_ptr<httplib::ClientImpl>> clients;  // one per endpoint
    std::size_t current = 0;                                    // the member that answered last
    std::mutex mutex;

    std::unique_ptr<httplib::ClientImpl> makeClient(const std::string& endpoint) const;
    Result call(const std::string& path, const json& request, bool idempotent, json& reply);
    Result send(const std::string& path, const std::string& body, bool idempotent,
                std::string& response);
    bool attempt(std::size_t index, Clock::time_point deadline, std::size_t left,
                 const std::string& path, const std::string& body, bool idempotent,
                 std::string& response, Result& result);
};

std::unique_ptr<httplib::ClientImpl> EtcdGateway::Impl::makeClient(
    const std::string& endpoint) const {
    std::size_t colon = endpoint.rfind(':');
    std::string host = endpoint.substr(0, colon);
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    int port = std::atoi(endpoint.c_str() + colon + 1);
    std::unique_ptr<httplib::ClientImpl> client;
    if (options.caFile.empty()) {
        client = std::make_unique<httplib::ClientImpl>(host, port);
    } else {
        client =
            std::make_unique<httplib::SSLClient>(host, port, options.certFile, options.keyFile);
        client->set_ca_cert_path(options.caFile);
        client->enable_server_certificate_verification(true);
    }
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    return client;
}

std::unique_ptr<EtcdGateway> EtcdGateway::open(const Options& options, std::string& error) {
    if (options.endpoints.empty()) {
        error = "no etcd endpoint given";
        return nullptr;
    }
    if (options.timeoutMs <= 0) {
        error = "the etcd deadline must be at least 1 ms";
        return nullptr;
    }
    bool tls = !options.caFile.empty() || !options.certFile.empty() || !options.keyFile.empty();
    for (const std::string* file : {&options.caFile, &options.certFile, &options.keyFile}) {
        if (tls && !readable(*file)) {
            error = "TLS file \"" + *file + "\" is missing or unreadable";
            return nullptr;
        }
    }
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    for (const std::string& endpoint : options.endpoints) {
        std::size_t colon = endpoint.rfind(':');
        if (colon == std::string::npos || colon == 0 ||
            std::atoi(endpoint.c_str() + colon + 1) <= 0) {
            error = "bad etcd endpoint \"" + endpoint + "\" (HOST:PORT)";
            return nullptr;
        }
        impl->clients.push_back(impl->makeClient(endpoint));
        if (!impl->clients.back()->is_valid()) {
            error = "cannot set up TLS for etcd endpoint " + endpoint +
                    " (check the certificate and key files)";
            return nullptr;
        }
    }
    return std::unique_ptr<EtcdGateway>(new EtcdGateway(std::move(impl)));
}

EtcdGateway::EtcdGateway(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

EtcdGateway::~EtcdGateway() = default;

const EtcdGateway::Options& EtcdGateway::options() const {
    return impl_->options;
}

namespace {

// Posts body to path. The gateway ends its error answers with HTTP trailers,
// which the HTTP client does not read and reports as a failed read: the body
// is collected as it arrives, so that such an answer still comes through.
httplib::Error postJson(httplib::ClientImpl& client, const std::string& path,
                        const std::string& body, int& status, std::string& answer) {
    httplib::Request request;
    request.method = "POST";
    request.path = path;
    request.body = body;
    request.set_header("Content-Type", "application/json");
    answer.clear();
    request.content_receiver = [&answer](const char* data, std::size_t length, std::uint64_t,
                                         std::uint64_t) {
        answer.append(data, length);
        return true;
    };
    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    bool sent = client.send(request, response, error);
    status = response.status;
    if (!sent && status >= 400 && json::accept(answer)) return httplib::Error::Success;
    return sent ? httplib::Error::Success : error;
}

}  // namespace

// One try on one member. True when the call is settled (result set), false
// when the next member may be tried.
bool EtcdGateway::Impl::attempt(std::size_t index, Clock::time_point deadline, std::size_t left,
                                const std::string& path, const std::string& body, bool idempotent,
                                std::string& response, Result& result) {
    using namespace std::chrono;
    auto remaining = duration_cast<microseconds>(deadline - Clock::now());
    const std::string& member = options.endpoints[index];
    // A member that does not even accept the connection must leave time for
    // the others.
    auto connectLimit = std::max(remaining / static_cast<long>(left), microseconds(100000));
    httplib::ClientImpl& client = *clients[index];
    client.set_connection_timeout(std::min(remaining, connectLimit));
    client.set_read_timeout(remaining);
    client.set_write_timeout(remaining);
    int status = 0;
    httplib::Error error = postJson(client, path, body, status, response);
    if (error != httplib::Error::Success) {
        bool unsent = error == httplib::Error::Connection ||
                      error == httplib::Error::ConnectionTimeout ||
                      error == httplib::Error::SSLConnection || error == httplib::Error::Write;
        result = {Outcome::Unavailable,
                  "no answer from etcd member " + member + " (" + inWords(error) + ")"};
        if (!unsent && !idempotent) result.message += "; the change may or may not have been made";
        return !(unsent || idempotent);
    }
    if (status == 200) {
        current = index;
        result = {};
        return true;
    }
    bool transient = false;
    result = refusal(status, response, member, transient);
    if (!idempotent && ambiguousRefusal(result.message))
        result.message += "; the change may or may not have been made";
    return !(transient && idempotent);
}

EtcdGateway::Result EtcdGateway::Impl::send(const std::string& path, const std::string& body,
                                            bool idempotent, std::string& response) {
    std::lock_guard<std::mutex> lock(mutex);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    std::size_t count = clients.size();
    Result result{Outcome::Unavailable, "no etcd member tried"};
    for (std::size_t i = 0; i < count; ++i) {
        if (Clock::now() >= deadline) break;
        if (attempt((current + i) % count, deadline, count - i, path, body, idempotent, response,
                    result))
            return result;
    }
    if (result.outcome == Outcome::Unavailable && Clock::now() >= deadline)
        result.message = "no answer from the etcd cluster within " +
                         std::to_string(options.timeoutMs) + " ms (last: " + result.message + ")";
    return result;
}

EtcdGateway::Result EtcdGateway::Impl::call(const std::string& path, const json& request,
                                            bool idempotent, json& reply) {
    std::string response;
    Result result = send(path, request.dump(), idempotent, response);
    if (!result.ok()) return result;
    reply = json::parse(response, nullptr, false);
    if (!reply.is_object())
        return {Outcome::Failed, "etcd answered " + path + " with something that is not JSON"};
    return result;
}

namespace {

// A record's value is most of a range answer, and parsing it as a JSON
// string costs more than the rest of the call's work. etcd writes it in
// base64, which holds neither quote nor backslash: it is cut out of the answer
// (leaving an empty string) before the rest is parsed.
std::string cutValue(std::string& answer) {
    static const std::string field = "\"value\":\"";
    std::size_t start = answer.find(field);
    if (start == std::string::npos) return "";
    start += field.size();
    std::size_t end = answer.find('"', start);
    if (end == std::string::npos) return "";
    std::string value = answer.substr(start, end - start);
    answer.erase(start, end - start);
    return value;
}

}  // namespace

EtcdGateway::Result EtcdGateway::get(const std::string& key, Record& record) {
    std::string answer;
    json request = {{"key", base64Of(key)}};
    Result result = impl_->send("/v3/kv/range", request.dump(), true, answer);
    if (!result.ok()) return result;
    std::string value = cutValue(answer);
    json reply = json::parse(answer, nullptr, false);
    if (!reply.is_object())
        return {Outcome::Failed, "etcd answered a read with something that is not JSON"};
    auto kvs = reply.find("kvs");
    if (kvs == reply.end() || !kvs->is_array() || kvs->empty())
        return {Outcome::NotFound, "no such key"};
    const json& kv = kvs->front();
    if (!bytesOfBase64(value, record.value))
        return {Outcome::Failed, "etcd answered a value that is not base64"};
    record.modRevision = numberAt(kv, "mod_revision", "modRevision");
    record.version = numberAt(kv, "version");
    return result;
}

EtcdGateway::Result EtcdGateway::put(const std::string& key, const std::string& value) {
    json reply;
    json request = {{"key", base64Of(key)}, {"value", base64Of(value)}};
    return impl_->call("/v3/kv/put", request, false, reply);
}

EtcdGateway::Result EtcdGateway::remove(const std::string& key) {
    json reply;
    Result result = impl_->call("/v3/kv/deleterange", {{"key", base64Of(key)}}, false, reply);
    if (result.ok() && numberAt(reply, "deleted") == 0) return {Outcome::NotFound, "no such key"};
    return result;
}

namespace {

json guardedTxn(const std::string& key, std::int64_t modRevision, json change) {
    json compare = {{"key", key},
                    {"target", "MOD"},
                    {"result", "EQUAL"},
                    {"mod_revision", std::to_string(modRevision)}};
    return {{"compare", json::array({compare})}, {"success", json::array({std::move(change)})}};
}

EtcdGateway::Result staleUnless(const json& reply, const std::string& key,
                                std::int64_t modRevision) {
    if (reply.value("succeeded", false)) return {};
    return {EtcdGateway::Outcome::Stale, "key \"" + key + "\" changed since revision " +
                                             std::to_string(modRevision) + " was read"};
}

}  // namespace

EtcdGateway::Result EtcdGateway::putIfRevision(const std::string& key, const std::string& value,
                                               std::int64_t modRevision) {
    std::string k = base64Of(key);
    json put = {{"request_put", {{"key", k}, {"value", base64Of(value)}}}};
    json reply;
    Result result = impl_->call("/v3/kv/txn", guardedTxn(k, modRevision, put), false, reply);
    return result.ok() ? staleUnless(reply, key, modRevision) : result;
}

EtcdGateway::Result EtcdGateway::removeIfRevision(const std::string& key,
                                                  std::int64_t modRevision) {
    std::string k = base64Of(key);
    json remove = {{"request_delete_range", {{"key", k}}}};
    json reply;
    Result result = impl_->call("/v3/kv/txn", guardedTxn(k, modRevision, remove), false, reply);
    if (!result.ok()) return result;
    result = staleUnless(reply, key, modRevision);
    if (!result.ok()) return result;
    // Revision 0 matches a key that does not exist: nothing was removed.
    const json& responses = reply.value("responses", json::array());
    bool removed =
        !responses.empty() &&
        numberAt(responses[0].value("response_delete_range", json::object()), "deleted") > 0;
    return removed ? result : Result{Outcome::NotFound, "no such key"};
}

EtcdGateway::Result EtcdGateway::status(Status& status) {
    json reply;
    Result result = impl_->call("/v3/maintenance/status", json::object(), true, reply);
    if (!result.ok()) return result;
    const json& header = reply.value("header", json::object());
    status.memberId = idAt(header, "member_id");
    status.revision = numberAt(header, "revision");
    status.leaderId = idAt(reply, "leader");
    status.dbSize = numberAt(reply, "dbSize", "db_size");
    status.version = reply.value("version", "");
    json members;
    result = impl_->call("/v3/cluster/member/list", json::object(), true, members);
    if (!result.ok()) return result;
    status.members.clear();
    for (const json& m : members.value("members", json::array())) {
        Member member{idAt(m, "ID"), m.value("name", ""), {}};
        for (const json& url : m.value("clientURLs", json::array()))
            if (url.is_string()) member.clientUrls.push_back(url.get<std::string>());
        status.members.push_back(std::move(member));
    }
    return result;
}

EtcdGateway::Result EtcdGateway::post(const std::string& path, const std::string& body,
                                      std::string& response) {
    return impl_->send(path, body, true, response);
}
