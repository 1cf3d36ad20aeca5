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

  private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    bool listen(String& error);
    void run();
    void reapFinished(bool all);
    void serve(int fd, const String& peer);
    std::optional<String> call(int opcode, const String& body);

    std::uint16_t box_;
    MsgRoutes::Route address_;
    std::unique_ptr<TlsContext> context_;
    Handler handler_;
    std::uint16_t port_ = 0;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
    // Touched by the accepting thread only, and by stop() after joining it.
    std::list<Connection> connections_;
};
