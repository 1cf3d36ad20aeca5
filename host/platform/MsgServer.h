#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

#include "platform/String.h"

// Serves one box resource of the stand-in's messaging (transport described in
// MsgChannel.h): listens at the resource's socket, takes one connection at a
// time, reads its request, hands the opcode and body to the handler and sends
// what the handler returns back as the reply (message type 3, the request's
// opcode). For example, an owner box answering every request with result 0:
//
//     MsgServer server(333, 1, [](int opcode, const String& body) {
//         return std::optional<String>(String(16, '\0'));
//     });
//     if (!server.start()) ...;  // clients may connect as soon as it returns
//     ...
//     server.stop();             // the destructor stops it too
//
// The handler runs on the server's own thread, one request at a time, without
// the run token. A handler in the same process as the client must not wait
// for the run token: the module keeps it while it waits for the reply.
// Returning std::nullopt closes the connection without a reply (the client
// sees MSG_PEER_CLOSED); so does a reply longer than MCMsg::maxBody or a
// handler that throws. A connection that does not deliver a well-formed
// request frame (wrong magic or type, body longer than MCMsg::maxBody) within
// requestTimeoutMs is closed without a reply, and the server goes on with the
// next connection.
class MsgServer {
  public:
    using Handler = std::function<std::optional<String>(int opcode, const String& body)>;
    static constexpr int requestTimeoutMs = 5000;

    MsgServer(std::uint16_t box, std::uint32_t resource, Handler handler);
    // Stops the server.
    ~MsgServer();
    MsgServer(const MsgServer&) = delete;
    MsgServer& operator=(const MsgServer&) = delete;

    // Creates "/vm/run" under the current platform root, replaces a stale
    // socket file of the resource, listens and starts the serving thread.
    // Returns true when listening. Returns false with errno set, and no
    // thread, when already running (EBUSY), when the socket path does not fit
    // a socket address (ENAMETOOLONG) or when a system call fails.
    bool start();
    // Wakes the serving thread, waits for a handler call in progress to
    // return, drops a connection in progress, closes the sockets and removes
    // the socket file. Harmless when not running. Not to be called from the
    // handler (the serving thread cannot wait for itself).
    void stop();
    bool running() const { return thread_.joinable(); }
    // Host path of the socket (known once start() was called).
    const String& socketPath() const { return path_; }

  private:
    void run();
    void serve(int fd);
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
    std::thread thread_;
};
