#include "host/vmadmd/BoundedServer.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "host/vmadmd/ConnectionStream.h"
#include "host/vmadmd/ConnectionThreads.h"
#include "host/vmadmd/RequestChecks.h"

namespace {

using Clock = ConnectionStream::Clock;

constexpr std::chrono::milliseconds kDiscardTime{1000};

// The answer to a connection over the limits, sent without reading anything.
const String& busyAnswer() {
    static const String body = R"({"error":"too many open connections from this address"})";
    static const String answer =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json; charset=utf-8\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    return answer;
}

String peerOf(socket_t sock) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST] = "";
    if (::getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return String();
    return host;
}

// The body length a request announces: 0 for none, -1 when it is not known
// before reading it (chunked, or a Content-Length that is no number).
long long announcedBody(const httplib::Request& request) {
    if (request.has_header("Transfer-Encoding")) return -1;
    if (!request.has_header("Content-Length")) return 0;
    unsigned long long length = 0;
    bool known = RequestChecks::contentLength(request.get_header_value("Content-Length"), length);
    return known && length <= LLONG_MAX ? static_cast<long long>(length) : -1;
}

// Lets the client read the answer before the connection goes: closing with
// its unread bytes pending would reset the connection, and the reset may
// overtake the answer. What still comes is read and dropped, for a while.
void closeGently(socket_t sock) {
    ::shutdown(sock, SHUT_WR);
    auto deadline = Clock::now() + kDiscardTime;
    char sink[4096];
    for (std::size_t dropped = 0; dropped < BoundedServer::kDiscardBytes;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait = {sock, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return;
        ssize_t n = ::recv(sock, sink, sizeof sink, MSG_DONTWAIT);
        if (n <= 0) return;
        dropped += static_cast<std::size_t>(n);
    }
}

}  // namespace

BoundedServer::BoundedServer() {
    new_task_queue = [] { return new ConnectionThreads; };
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "can't make the stop pipe");
}

BoundedServer::~BoundedServer() {
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

int BoundedServer::bindAnyPort(const std::string& host) {
    int port = bind_to_any_port(host);
    if (port > 0) widenBacklog();
    return port;
}

bool BoundedServer::bindPort(const std::string& host, int port) {
    bool bound = bind_to_port(host, port);
    if (bound) widenBacklog();
    return bound;
}

void BoundedServer::widenBacklog() {
    // httplib listens with a queue of 5: a burst of connections (a browser
    // opening several, or many clients at once) would wait on SYN retries.
    ::listen(svr_sock_, SOMAXCONN);
}

void BoundedServer::stopServing() {
    (void)!::write(stopPipe_[1], "x", 1);
    stop();
}

bool BoundedServer::process_and_close_socket(socket_t sock) {
    String peer = peerOf(sock);
    bool admitted = limits_.admit(peer);
    bool served = false;
    if (admitted) {
        served = serve(sock);
        limits_.release(peer);
    } else {
        const String& busy = busyAnswer();
        (void)!::send(sock, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(sock, SHUT_WR);
    }
    ::close(sock);
    return served;
}

bool BoundedServer::serve(socket_t sock) {
    ConnectionStream stream(sock, stopPipe_[0], std::chrono::seconds(write_timeout_sec_));
    bool served = false, whole = true, parsed = true;
    for (std::size_t left = keep_alive_max_count_; left > 0 && whole; --left) {
        stream.startPhase(Clock::now() + kHeaderTime, kHeaderBytes);
        long long body = -1;
        bool closed = false;
        parsed = false;
        served = process_request(stream, left == 1, closed, [&](httplib::Request& request) {
            parsed = true;
            body = announcedBody(request);
            stream.startPhase(Clock::now() + kBodyTime, kBodyBytes);
        });
        // The next request starts where this body ends: unless it was read
        // to that end, the connection cannot go on.
        whole = body >= 0 && stream.phaseBytes() == static_cast<std::size_t>(body);
        // The answer leaves in one piece here, once httplib has written it.
        if (!stream.flush()) served = false;
        if (!served || closed) break;
    }
    // A client whose headers never came in full gets no grace.
    if (!whole && parsed) closeGently(sock);
    return served;
}
