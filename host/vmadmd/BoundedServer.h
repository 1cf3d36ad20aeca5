#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>

#include "host/vmadmd/ConnectionLimits.h"

// An httplib server whose connections cannot be held at will by clients
// that send slowly, much, or from many connections:
// - each connection is served on its own thread (ConnectionThreads), and a
//   peer address may hold kPerPeer of them, the server kTotal; one more is
//   closed at once;
// - a request's line and headers must arrive within kHeaderTime of the
//   connection being ready for it (accepted, or the previous answer sent),
//   and in at most kHeaderBytes; else the connection is closed;
// - its body has kBodyTime and kBodyBytes of wire bytes (framing included);
// - a connection whose request body was not read to its end (refused, or
//   chunked) is closed after the answer: the client gets a short while to
//   read the answer while what it still sends is discarded, up to
//   kDiscardBytes.
// Limits on the body's content (413) are the routes' to enforce; this class
// only guarantees nothing reads past kBodyBytes.
class BoundedServer : public httplib::Server {
  public:
    static constexpr std::size_t kPerPeer = 32;
    static constexpr std::size_t kTotal = 256;
    static constexpr std::chrono::seconds kHeaderTime{5};
    static constexpr std::size_t kHeaderBytes = 32 * 1024;
    static constexpr std::chrono::seconds kBodyTime{10};
    static constexpr std::size_t kBodyBytes = 2 * 64 * 1024 + 4096;
    static constexpr std::size_t kDiscardBytes = 256 * 1024;

    BoundedServer();
    ~BoundedServer() override;

    // Like httplib's, with a listen queue as long as the system allows.
    int bindAnyPort(const std::string& host);
    bool bindPort(const std::string& host, int port);
    // Stops accepting and ends the connections waiting for a request (the
    // base class leaves them to their timeouts). Not for signal handlers.
    void stopServing();

  protected:
    bool process_and_close_socket(socket_t sock) override;

  private:
    bool serve(socket_t sock);
    void widenBacklog();

    ConnectionLimits limits_{kPerPeer, kTotal};
    int stopPipe_[2] = {-1, -1};
};
