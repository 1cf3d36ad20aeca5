#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <thread>

#include "platform/String.h"

// Serves one box resource of the stand-in's messaging (transport described in
// MsgChannel.h): listens at the resource's socket, serves each accepted
// connection on a thread of its own, reads its request, hands the opcode and
// body to the handler and sends what the handler returns back as the reply
// (message type 3, the request's opcode). For example, an owner box answering
// every request with result 0:
//
//     MsgServer server(333, 1, [](int opcode, const String& body) {
//         return std::optional<String>(String(16, '\0'));
//     });
//     if (!server.start()) ...;  // clients may connect as soon as it returns
//     ...
//     server.stop();             // the destructor stops it too
//
// At most maxConnections connections are served at once. While all of them
// are taken the server accepts nothing more: further clients wait in the
// socket's backlog (not refused) until a connection ends. So a client that
// connects and stays silent holds one connection for at most
// requestTimeoutMs and delays nobody else.
//
// The handler runs on the connection's thread, without the run token, and
// calls for different connections run concurrently: the handler must be
// thread-safe (a handler that calls module code takes the run token, which
// serialises those calls). A handler in the same process as the client must
// not wait for the run token: the module keeps it while it waits for the
// reply. Returning std::nullopt closes the connection without a reply (the
// client sees MSG_PEER_CLOSED); so does a reply longer than MCMsg::maxBody or
// a handler that throws. A connection that does not deliver a well-formed
// request frame (wrong magic or type, body longer than MCMsg::maxBody) within
// requestTimeoutMs is closed without a reply.
class MsgServer {
  public:
    using Handler = std::function<std::optional<String>(int opcode, const String& body)>;
    static constexpr int requestTimeoutMs = 5000;
    static constexpr std::size_t maxConnections = 32;

    MsgServer(std::uint16_t box, std::uint32_t resource, Handler handler);
    // Stops the server.
    ~MsgServer();
    MsgServer(const MsgServer&) = delete;
    MsgServer& operator=(const MsgServer&) = delete;

    // Creates "/vm/run" under the current platform root, replaces a stale
    // socket file of the resource, listens and starts the accepting thread.
    // Returns true when listening. Returns false with errno set, and no
    // thread, when already running (EBUSY), when the socket path does not fit
    // a socket address (ENAMETOOLONG) or when a system call fails.
    bool start();
    // Wakes every thread of the server, waits for handler calls in progress
    // to return, drops the connections (silent clients included), joins the
    // threads, closes the sockets and removes the socket file. Harmless when
    // not running. Not to be called from the handler (a connection's thread
    // cannot wait for itself).
    void stop();
    bool running() const { return thread_.joinable(); }
    // Host path of the socket (known once start() was called).
    const String& socketPath() const { return path_; }

  private:
    // One connection's thread; `done` is set as its last act on the server.
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void run();
    void acceptOne();
    // Joins finished workers (all of them, waiting, when `all`).
    void reap(bool all);
    void serve(int fd);
    void finished(Worker& worker);
    std::optional<String> answer(int opcode, const String& body);
    bool listen();
    void closeAll();

    std::uint16_t box_;
    std::uint32_t resource_;
    Handler handler_;
    String path_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    // Signalled by a worker that ends, so that a full server accepts again.
    int slotFreed_ = -1;
    std::thread thread_;
    // Touched only by the accepting thread.
    std::list<Worker> workers_;
};
