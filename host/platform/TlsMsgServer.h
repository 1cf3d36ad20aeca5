#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "host/platform/MsgRoutes.h"
#include "host/platform/TlsContext.h"
#include "platform/String.h"

// Serves a box's messaging to other hosts: listens on a TCP address and runs
// TlsChannel connections (mutual TLS 1.3 and the hello, see TlsChannel.h).
// A peer whose certificate is missing, not signed by the authority, or
// names another box than its hello claims is refused before any request is
// read, with a level-1 trace line naming its address and the reason.
//
// An accepted connection serves requests one after another until the peer
// closes it, stays idle for idleTimeoutMs, or sends a frame that is not a
// request (wrong magic or type, body over maxBody); each request goes to
// the handler, and what it returns goes back as the reply (type 3, the
// request's opcode). std::nullopt, an over-long reply or a handler that
// throws closes the connection without a reply. Request bodies may be as
// long as maxBody, beyond MCMsg::maxBody, so that a request can carry a
// file's bytes; replies stay within MCMsg::maxBody.
//
// One thread per connection, at most maxConnections at once (a connection
// beyond that is closed at once and traced). The handler runs on those
// threads, without the run token, and must be thread-safe. Owns the
// context, the socket and the threads; stop() (or the destructor) wakes
// them all and waits for handler calls in progress.
//
// replaceContext() swaps the certificates without stopping: connections
// accepted afterwards use the new context, and every connection open at the
// time is closed once it is between requests (one in a handler call first
// sends its reply), so that a peer revoked since it connected is cut off.
// A request that arrives as its connection is cut is not handled: the peer
// sees the connection closed and may send it again (TcpMsgClient does).
class TlsMsgServer {
  public:
    using Handler = std::function<std::optional<String>(int opcode, const String& body)>;
    static constexpr std::size_t maxConnections = 64;
    static constexpr int handshakeTimeoutMs = 5000;
    static constexpr int idleTimeoutMs = 120000;
    static constexpr std::size_t maxBody = (std::size_t{64} << 20) + 8192;

    TlsMsgServer(std::uint16_t box, MsgRoutes::Route address, std::unique_ptr<TlsContext> context,
                 Handler handler);
    ~TlsMsgServer();
    TlsMsgServer(const TlsMsgServer&) = delete;
    TlsMsgServer& operator=(const TlsMsgServer&) = delete;

    // Binds, listens and starts accepting; false with `error` in words.
    bool start(String& error);
    void stop();
    // The port listened on (the one chosen by the system for port 0).
    std::uint16_t port() const { return port_; }
    // Serves with `context` from now on (see above); returns at once, the
    // accepting thread makes the change. Thread-safe, though not beside a
    // start() or stop() in progress; the last of several calls in a row
    // wins. Without a running server, only the context changes.
    void replaceContext(std::unique_ptr<TlsContext> context);

  private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
        // Under mutex: the socket until its thread closes it (-1 after),
        // whether a request is being handled, whether it was cut.
        std::mutex mutex;
        int fd = -1;
        bool busy = false;
        bool cut = false;
    };

    bool listen(String& error);
    void run();
    void reapFinished(bool all);
    // Takes the context that replaceContext left and cuts every connection.
    void applyReplacement();
    void serve(const TlsContext& context, Connection& connection, const String& peer);
    // Marks a received request as being handled; false when the connection
    // was cut meanwhile, and the request must be dropped.
    static bool beginRequest(Connection& connection);
    static bool cut(Connection& connection);
    std::optional<String> call(int opcode, const String& body);

    std::uint16_t box_;
    MsgRoutes::Route address_;
    // Each connection's thread holds the context it was accepted with.
    std::shared_ptr<TlsContext> context_;
    std::mutex replacementMutex_;
    std::unique_ptr<TlsContext> replacement_;
    Handler handler_;
    std::uint16_t port_ = 0;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int replaceFd_ = -1;  // an eventfd: a replacement waits
    std::thread thread_;
    // Touched by the accepting thread only, and by stop() after joining it.
    std::list<Connection> connections_;
};
