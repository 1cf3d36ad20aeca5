#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "host/platform/MsgChannel.h"
#include "host/platform/TlsContext.h"
#include "platform/String.h"

// One TCP connection of the messaging between hosts, under TLS 1.3, carrying
// the frames of MsgChannel.h. Unlike the local socket, a connection carries
// any number of exchanges one after another, and begins, right after the
// handshake, with a hello each way: a frame of type helloType whose 4-byte
// body is the sender's box number. The server accepts the client's hello only
// when the client's certificate names that box; the client accepts the
// server's only from the box it asked for (which the handshake has checked
// against the server's certificate already).
//
// Every transfer has a time limit (setTimeout, negative for none) and stops
// when the optional wake descriptor becomes readable. Failures are
// MsgChannel::Io values; error() says in words what went wrong (OpenSSL's
// reason for a refused handshake). Owns the socket and the SSL object and
// frees both on destruction. Never raises SIGPIPE. One thread at a time.
class TlsChannel {
  public:
    using Io = MsgChannel::Io;
    static constexpr std::int32_t helloType = 16;

    // Takes the connected socket (made non-blocking here) and a reference on
    // the context's SSL_CTX.
    TlsChannel(const TlsContext& context, int fd, int timeoutMs, int wakeFd = -1);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    void setTimeout(int timeoutMs);
    // Client side: handshake requiring a certificate that names box<serverBox>,
    // sends our hello (box `ownBox`) and waits for the server's.
    Io connect(std::uint16_t serverBox, std::uint16_t ownBox);
    // Server side: handshake requiring a client certificate; then the
    // client's hello is checked against it and answered with `ownBox`.
    Io accept(std::uint16_t ownBox);
    // One frame: the header, then the parts one after the other (their sizes
    // must add up to header.length).
    Io send(const MsgFrameHeader& header, std::initializer_list<std::string_view> parts);
    // One frame into `body` (resized to the frame's length). badFrame and
    // tooLong leave the body unread.
    Io receive(MsgFrameHeader* header, String& body, std::size_t capacity);
    // The box the peer's hello named (0 before a hello was accepted).
    std::uint16_t peerBox() const { return peerBox_; }
    // What the last failure was, in words.
    const String& error() const { return error_; }

  private:
    Io handshake(bool client);
    // Waits until the socket can do what OpenSSL asked for (SSL_get_error).
    Io retry(int result);
    Io await(short events);
    template <class Step>
    Io pump(std::size_t count, Step step);
    Io writeAll(const char* bytes, std::size_t count);
    Io readAll(char* bytes, std::size_t count);
    Io sendHello(std::uint16_t box);
    Io receiveHello(std::uint16_t& box);

    SSL* ssl_;
    int fd_;
    int wakeFd_;
    bool limited_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::uint16_t peerBox_ = 0;
    String error_;
};
