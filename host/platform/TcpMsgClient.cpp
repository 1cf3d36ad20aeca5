#include "host/platform/TcpMsgClient.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/ProcessId.h"
#include "host/platform/TlsChannel.h"
#include "platform/MCMsg.h"

namespace {

using Clock = std::chrono::steady_clock;
using Io = MsgChannel::Io;

// A server drops a connection after two idle minutes; one idle for half of
// that is not worth the risk of a reset on first use.
constexpr auto kMaxIdle = std::chrono::seconds(60);

int positiveEnv(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr) return fallback;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value > 0 && value <= 3600000 ? static_cast<int>(value)
                                                                        : fallback;
}

struct Idle {
    std::unique_ptr<TlsChannel> channel;
    Clock::time_point since;
    String folder;  // folderStamp() before it was opened
};

// The authorities and the revocation list of this process's certificate
// folder as they are now (inode, size, change time). A kept connection was
// checked against the files of its handshake: once they change (a peer
// revoked since, a new authority) it is not used again.
String folderStamp() {
    String directory = TlsContext::defaultDirectory(), stamp;
    for (const char* name : {"/ca.pem", "/crl.pem"}) {
        struct stat info;
        if (::stat((directory + name).c_str(), &info) != 0) {
            stamp += "-;";
            continue;
        }
        stamp += std::to_string(info.st_ino) + ':' + std::to_string(info.st_size) + ':' +
                 std::to_string(info.st_ctim.tv_sec) + '.' + std::to_string(info.st_ctim.tv_nsec) +
                 ';';
    }
    return stamp;
}

// Idle connections by destination; they belong to the process that opened them.
class Pool {
  public:
    std::unique_ptr<TlsChannel> take(const String& key, const String& folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (owner_ != ProcessId::current()) {
            // A child must not speak in its parent's TLS sessions. Freeing
            // them sends nothing (no TLS goodbye) and closes only the child's
            // copies of the sockets.
            idle_.clear();
            owner_ = ProcessId::current();
        }
        std::vector<Idle>& list = idle_[key];
        while (!list.empty()) {
            Idle idle = std::move(list.back());
            list.pop_back();
            if (Clock::now() - idle.since < kMaxIdle && idle.folder == folder)
                return std::move(idle.channel);
        }
        return nullptr;
    }
    void give(const String& key, std::unique_ptr<TlsChannel> channel, const String& folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (owner_ == ProcessId::current())
            idle_[key].push_back({std::move(channel), Clock::now(), folder});
    }

  private:
    std::mutex mutex_;
    pid_t owner_ = ProcessId::current();
    std::map<String, std::vector<Idle>> idle_;
};

Pool& pool() {
    // OpenSSL cleans up at exit; initialised before the pool exists, it is
    // cleaned up after the pool has freed its connections.
    static const bool initialised = OPENSSL_init_ssl(0, nullptr) == 1;
    static Pool instance;
    static_cast<void>(initialised);
    return instance;
}

String where(std::uint16_t box, const MsgRoutes::Route& route) {
    return "messaging: box " + std::to_string(box) + " at " + route.text();
}

std::uint32_t failure(std::uint16_t box, const MsgRoutes::Route& route, std::uint32_t status,
                      const String& what, TcpMsgClient::Reply& reply, int error = 0) {
    reply.sysErrno = static_cast<std::uint32_t>(error);
    HostTrace::record(
        1, where(box, route) + ": " + what + " (messaging status " + std::to_string(status) + ")");
    return status;
}

// Waits for a non-blocking connect to end; 0 or its errno (ETIMEDOUT when
// the deadline passed).
int connected(int fd, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return ETIMEDOUT;
        pollfd poller{fd, POLLOUT, 0};
        int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return ETIMEDOUT;
        int error = 0;
        socklen_t length = sizeof error;
        if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
        return error;
    }
}

// A non-blocking connect to any of the addresses, within the deadline.
int connectSocket(const MsgRoutes::Route& route, Clock::time_point deadline, int& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    String port = std::to_string(route.port);
    if (int rc = ::getaddrinfo(route.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
        return -2;
    }
    int fd = -1;
    error = ECONNREFUSED;
    for (addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
        fd = ::socket(at->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        error = ::connect(fd, at->ai_addr, at->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) error = connected(fd, deadline);
        if (error != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

// A new connection that has passed the handshake and the hellos, or nullptr
// with the status returned through `status`.
std::unique_ptr<TlsChannel> open(std::uint16_t box, const MsgRoutes::Route& route,
                                 TcpMsgClient::Reply& reply, std::uint32_t& status) {
    String problem;
    std::uint16_t self = HostPlatform::box();
    String directory = TlsContext::defaultDirectory();
    std::unique_ptr<TlsContext> context =
        TlsContext::load(directory, self, TlsContext::Side::client, problem);
    if (!context) {
        status = failure(box, route, MSG_TLS_REFUSED, "this box cannot use TLS: " + problem, reply);
        return nullptr;
    }
    int connectMs = TcpMsgClient::connectTimeoutMs();
    int error = 0;
    int fd = connectSocket(route, Clock::now() + std::chrono::milliseconds(connectMs), error);
    if (fd < 0) {
        bool timedOut = error == ETIMEDOUT;
        status = timedOut ? MSG_CONNECT_TIMED_OUT : fd == -2 ? MSG_BAD_ADDRESS : MSG_NO_LISTENER;
        String what = timedOut   ? "no connection within " + std::to_string(connectMs) + " ms"
                      : fd == -2 ? "cannot resolve the host"
                                 : String("cannot connect: ") + std::strerror(error);
        status = failure(box, route, status, what, reply, error);
        return nullptr;
    }
    auto channel = std::make_unique<TlsChannel>(*context, fd, connectMs);
    Io io = channel->connect(box, self);
    if (io == Io::ok) return channel;
    status = io == Io::timedOut ? MSG_CONNECT_TIMED_OUT : MSG_TLS_REFUSED;
    String what = io == Io::timedOut
                      ? "no TLS handshake within " + std::to_string(connectMs) + " ms"
                      : "TLS connection refused: " + channel->error();
    status = failure(box, route, status, what, reply);
    return nullptr;
}

std::uint32_t statusOf(Io io) {
    switch (io) {
        case Io::closed:
            return MSG_PEER_CLOSED;
        case Io::timedOut:
            return MSG_TIMED_OUT;
        case Io::badFrame:
            return MSG_BAD_FRAME;
        case Io::tooLong:
            return MSG_REPLY_TOO_LONG;
        default:
            return MSG_IO_ERROR;
    }
}

}  // namespace

int TcpMsgClient::connectTimeoutMs() {
    return positiveEnv("VM_MSG_CONNECT_MS", defaultConnectMs);
}

int TcpMsgClient::replyTimeoutMs() {
    return positiveEnv("VM_MSG_REPLY_MS", defaultReplyMs);
}

std::uint32_t TcpMsgClient::exchange(std::uint16_t box, const MsgRoutes::Route& route, int opcode,
                                     std::int32_t type, std::string_view body,
                                     std::string_view carried, std::string_view trailer,
                                     int timeoutMs, Reply& reply) {
    String key = std::to_string(box) + "@" + route.text();
    int replyMs = timeoutMs >= 0 ? timeoutMs : replyTimeoutMs();
    MsgFrameHeader request{
        kMsgFrameMagic, opcode, type,
        static_cast<std::uint32_t>(body.size() + carried.size() + trailer.size())};
    // Taken before any connection is opened: files changed meanwhile make
    // the connection look older than it is, never newer.
    String folder = folderStamp();
    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<TlsChannel> channel = pool().take(key, folder);
        bool reused = channel != nullptr;
        if (!reused) {
            std::uint32_t status = 0;
            channel = open(box, route, reply, status);
            if (!channel) return status;
        }
        channel->setTimeout(replyMs);
        Io io = channel->send(request, {body, carried, trailer});
        if (io == Io::ok) io = channel->receive(&reply.header, reply.body, MCMsg::maxBody);
        // The server may have closed an idle connection just before we used
        // it; a whole update is safe to send again.
        if (io == Io::closed && reused && attempt == 0) continue;
        if (io == Io::ok && reply.header.opcode == opcode) {
            pool().give(key, std::move(channel), folder);
            return 0;
        }
        if (io == Io::ok) return failure(box, route, MSG_BAD_FRAME, "the reply is not ours", reply);
        String what = io == Io::timedOut ? "no reply within " + std::to_string(replyMs) + " ms"
                                         : "exchange failed: " + channel->error();
        return failure(box, route, statusOf(io), what, reply);
    }
}
