#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/platform/MsgRequestReader.h"
#include "platform/String.h"

// Serves one box resource of the stand-in's messaging (transport described in
// MsgChannel.h): listens at the resource's socket, reads each accepted
// connection's request, hands the opcode and body to the handler and sends
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
// One thread accepts connections and reads every request frame without
// blocking, so a client that connects and stays silent (or sends a byte at a
// time) costs a descriptor, never a thread, and delays nobody else. A client
// must deliver its whole request frame within requestTimeoutMs of being
// accepted; a frame that is not a well-formed request (wrong magic or type,
// body longer than MCMsg::maxBody) closes the connection at once. Either way
// the client gets no reply. At most maxConnections connections are open at
// once: a connection beyond that takes the place of the oldest one still
// sending its request, or is closed at once when every open connection has
// a complete request; both are traced (level 1, at most a line a second).
//
// Complete requests are answered by handlerThreads threads, without the run
// token: the handler must be thread-safe (a handler that calls module code
// takes the run token, which serialises those calls). A handler in the same
// process as the client must not wait for the run token: the module keeps it
// while it waits for the reply. Returning std::nullopt closes the connection
// without a reply (the client sees MSG_PEER_CLOSED); so does a reply longer
// than MCMsg::maxBody or a handler that throws.
class MsgServer {
  public:
    using Handler = std::function<std::optional<String>(int opcode, const String& body)>;
    static constexpr int requestTimeoutMs = 3000;
    static constexpr std::size_t maxConnections = 128;
    static constexpr std::size_t handlerThreads = 4;

    MsgServer(std::uint16_t box, std::uint32_t resource, Handler handler);
    // Stops the server.
    ~MsgServer();
    MsgServer(const MsgServer&) = delete;
    MsgServer& operator=(const MsgServer&) = delete;

    // Creates "/vm/run" under the current platform root, replaces a stale
    // socket file of the resource, listens and starts the threads. Returns
    // true when listening. Returns false with errno set, and no thread, when
    // already running (EBUSY), when the socket path does not fit a socket
    // address (ENAMETOOLONG) or when a system call fails.
    bool start();
    // Wakes every thread of the server, waits for handler calls in progress
    // to return, drops the other connections (silent clients included),
    // joins the threads, closes the sockets and removes the socket file if
    // it is still the one this server made. Harmless when not running. Not
    // to be called from the handler (its thread cannot wait for itself).
    void stop();
    bool running() const { return thread_.joinable(); }
    // Host path of the socket (known once start() was called).
    const String& socketPath() const { return path_; }

    // The box that sent the request the calling thread's handler is
    // answering (as its frame says on this host; the certificate's box for
    // a peer on another host), 0 outside a handler or when not said.
    static std::uint16_t requestSender();
    // Who the request is made for, as its sender said (RequestActor.h);
    // empty outside a handler or when not said.
    static const std::string& requestActor();
    // Sets requestSender() and requestActor() for the calling thread while
    // it lives (the servers' handler threads; tests).
    class SenderScope {
      public:
        explicit SenderScope(std::uint16_t box, std::string actor = {});
        ~SenderScope();
        SenderScope(const SenderScope&) = delete;
        SenderScope& operator=(const SenderScope&) = delete;

      private:
        std::uint16_t previous_;
        std::string previousActor_;
    };

  private:
    using Clock = std::chrono::steady_clock;
    struct Request {
        int fd;
        int opcode;
        String body;
        std::uint16_t sender;
        std::string actor;
    };

    bool listen();
    void rememberSocket(const String& bound);
    bool startThreads();
    void closeAll();
    // The accepting and reading thread.
    void run();
    // Closes what is left and ends the handler threads.
    void finish();
    void readReady(const std::vector<short>& events);
    void acceptAll();
    void admit(int fd);
    void dropped(bool refused);
    void traceDrops();
    // A handler thread.
    void work();
    void answer(const Request& request);
    std::optional<String> call(const Request& request);
    // Queues the complete request of `reader`, with its socket, for the
    // handler threads; a bad frame is left with the reader (and dropped).
    void queue(MsgRequestReader& reader);

    std::uint16_t box_;
    std::uint32_t resource_;
    Handler handler_;
    String path_;
    dev_t socketDevice_ = 0;
    ino_t socketInode_ = 0;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
    std::vector<std::thread> handlers_;

    // Touched only by the accepting thread; oldest first.
    std::list<MsgRequestReader> reading_;
    Clock::time_point acceptPausedUntil_;
    std::size_t droppedCount_ = 0;
    std::size_t refusedCount_ = 0;
    Clock::time_point nextDropTrace_;

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Request> queue_;  // complete requests waiting for a handler thread
    bool stopping_ = false;
    // Connections queued or being answered.
    std::atomic<std::size_t> busy_{0};
};
