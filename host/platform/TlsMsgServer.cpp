#include "host/platform/TlsMsgServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/platform/HostTrace.h"
#include "host/platform/MsgServer.h"
#include "host/platform/RequestActor.h"
#include "host/platform/TlsChannel.h"
#include "platform/MCMsg.h"

namespace {

String peerText(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    std::uint16_t port = 0;
    if (address.ss_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        auto* in = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &in->sin6_addr, host, sizeof host);
        port = ntohs(in->sin6_port);
    }
    return String(host) + ":" + std::to_string(port);
}

}  // namespace

TlsMsgServer::TlsMsgServer(std::uint16_t box, MsgRoutes::Route address,
                           std::unique_ptr<TlsContext> context, Handler handler)
    : box_(box),
      address_(std::move(address)),
      context_(std::move(context)),
      handler_(std::move(handler)) {}

TlsMsgServer::~TlsMsgServer() {
    stop();
}

bool TlsMsgServer::listen(String& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    String port = std::to_string(address_.port);
    if (int rc = ::getaddrinfo(address_.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = "cannot resolve " + address_.text() + ": " + ::gai_strerror(rc);
        return false;
    }
    int lastError = 0;
    for (addrinfo* at = found; at != nullptr && listenFd_ < 0; at = at->ai_next) {
        int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int on = 1;
        if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            ::bind(fd, at->ai_addr, at->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
            listenFd_ = fd;
            break;
        }
        lastError = errno;
        if (fd >= 0) ::close(fd);
    }
    ::freeaddrinfo(found);
    if (listenFd_ < 0) {
        error = "cannot listen on " + address_.text() + ": " + std::strerror(lastError);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return true;
}

bool TlsMsgServer::start(String& error) {
    if (thread_.joinable()) {
        error = "already listening";
        return false;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    replaceFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (replaceFd_ < 0) {
        error = std::strerror(errno);
        stop();
        return false;
    }
    if (!listen(error)) {
        stop();
        return false;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        error = e.what();
        stop();
        return false;
    }
    return true;
}

void TlsMsgServer::stop() {
    if (thread_.joinable()) {
        char wake = 1;
        while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_, &replaceFd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void TlsMsgServer::replaceContext(std::unique_ptr<TlsContext> context) {
    {
        std::lock_guard<std::mutex> lock(replacementMutex_);
        replacement_ = std::move(context);
    }
    std::uint64_t one = 1;
    if (replaceFd_ < 0) {
        applyReplacement();  // not serving: no connection to cut
    } else {
        while (::write(replaceFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

void TlsMsgServer::applyReplacement() {
    std::unique_ptr<TlsContext> next;
    {
        std::lock_guard<std::mutex> lock(replacementMutex_);
        next = std::move(replacement_);
    }
    if (!next) return;
    context_ = std::move(next);
    std::size_t cut = 0;
    for (Connection& connection : connections_) {
        std::lock_guard<std::mutex> lock(connection.mutex);
        if (connection.fd < 0 || connection.cut) continue;
        connection.cut = true;
        ++cut;
        // Wakes a connection waiting for a request; one in a handler call
        // ends after its reply. The socket stays open until its thread
        // closes it, so the number cannot meanwhile name another socket.
        if (!connection.busy) ::shutdown(connection.fd, SHUT_RDWR);
    }
    HostTrace::record(1, "TlsMsgServer: box " + std::to_string(box_) +
                             " serves with new certificates; closing " + std::to_string(cut) +
                             " open connection(s)");
}

void TlsMsgServer::run() {
    for (;;) {
        pollfd fds[3] = {{wakeRead_, POLLIN, 0}, {listenFd_, POLLIN, 0}, {replaceFd_, POLLIN, 0}};
        // Wakes now and then to join the threads of closed connections.
        int ready = ::poll(fds, 3, 1000);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[0].revents != 0) break;
        reapFinished(false);
        if (ready > 0 && fds[2].revents != 0) {
            std::uint64_t count;
            while (::read(replaceFd_, &count, sizeof count) < 0 && errno == EINTR) {
            }
            applyReplacement();
        }
        if (ready <= 0 || (fds[1].revents & POLLIN) == 0) continue;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            // A descriptor shortage leaves the socket readable: do not spin.
            if (errno == EMFILE || errno == ENFILE) ::poll(nullptr, 0, 100);
            continue;
        }
        String who = peerText(peer);
        if (connections_.size() >= maxConnections) {
            ::close(fd);
            HostTrace::record(1, "TlsMsgServer: box " + std::to_string(box_) + " refused " + who +
                                     ": already " + std::to_string(maxConnections) +
                                     " connections");
            continue;
        }
        Connection& connection = connections_.emplace_back();
        connection.fd = fd;
        std::shared_ptr<TlsContext> context = context_;
        connection.thread = std::thread([this, context, who, &connection] {
            serve(*context, connection, who);
            connection.done = true;
        });
    }
    reapFinished(true);
}

void TlsMsgServer::reapFinished(bool all) {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (all || it->done) {
            it->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TlsMsgServer::beginRequest(Connection& connection) {
    std::lock_guard<std::mutex> lock(connection.mutex);
    connection.busy = !connection.cut;
    return connection.busy;
}

void TlsMsgServer::serve(const TlsContext& context, Connection& connection, const String& peer) {
    int fd = connection.fd;  // set before this thread started
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    TlsChannel channel(context, fd, handshakeTimeoutMs, wakeRead_);
    // Declared after the channel, so that it runs before the channel closes
    // the socket: applyReplacement() never shuts down a number reused since.
    struct Release {
        Connection& connection;
        ~Release() {
            std::lock_guard<std::mutex> lock(connection.mutex);
            connection.fd = -1;
        }
    } release{connection};
    if (TlsChannel::Io io = channel.accept(box_); io != TlsChannel::Io::ok) {
        if (io != TlsChannel::Io::stopped)
            HostTrace::record(1, "TlsMsgServer: box " + std::to_string(box_) +
                                     " refused the connection from " + peer + ": " +
                                     channel.error());
        return;
    }
    String from = peer + " (box " + std::to_string(channel.peerBox()) + ")";
    HostTrace::record(2, "TlsMsgServer: box " + std::to_string(box_) + " accepted " + from);
    for (;;) {
        channel.setTimeout(idleTimeoutMs);
        MsgFrameHeader header;
        String body;
        TlsChannel::Io io = channel.receive(&header, body, maxBody + RequestActor::maxTrailer);
        std::string actor;
        if (io == TlsChannel::Io::ok &&
            ((header.type & ~RequestActor::typeFlag) != kMsgRequestType ||
             !RequestActor::take(header.type, body, actor, maxBody)))
            io = TlsChannel::Io::badFrame;
        if (io != TlsChannel::Io::ok) {
            if (io != TlsChannel::Io::closed && io != TlsChannel::Io::stopped && !cut(connection))
                HostTrace::record(1, "TlsMsgServer: box " + std::to_string(box_) + " closed " +
                                         from + ": " + channel.error());
            return;
        }
        if (!beginRequest(connection)) return;
        MsgServer::SenderScope sender(channel.peerBox(), std::move(actor));
        std::optional<String> reply = call(header.opcode, body);
        if (!reply || reply->size() > MCMsg::maxBody) return;
        MsgFrameHeader answer{kMsgFrameMagic, header.opcode, kMsgReplyType,
                              static_cast<std::uint32_t>(reply->size())};
        channel.setTimeout(handshakeTimeoutMs);
        if (channel.send(answer, {std::string_view(*reply)}) != TlsChannel::Io::ok) return;
        std::lock_guard<std::mutex> lock(connection.mutex);
        connection.busy = false;
        if (connection.cut) return;
    }
}

bool TlsMsgServer::cut(Connection& connection) {
    std::lock_guard<std::mutex> lock(connection.mutex);
    return connection.cut;
}

std::optional<String> TlsMsgServer::call(int opcode, const String& body) {
    try {
        return handler_(opcode, body);
    } catch (...) {
        // One bad request must not end the service of the box.
        return std::nullopt;
    }
}
