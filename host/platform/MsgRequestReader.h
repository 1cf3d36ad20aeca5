#pragma once

#include <chrono>
#include <cstddef>

#include "host/platform/MsgChannel.h"
#include "platform/String.h"

// Collects one request frame of the transport (see MsgChannel.h) from a
// non-blocking socket, a little at a time, so that one thread can read the
// requests of many connections without any of them holding it up. Checks the
// header as soon as it is complete: wrong magic, a type other than a
// request, or a body longer than MCMsg::maxBody fail the read. Reads nothing
// beyond the frame.
//
// Owns the socket from construction on (closes it on destruction unless
// release() handed it over). A plain value, not thread-safe.
class MsgRequestReader {
  public:
    enum class Step {
        more,      // the frame is not complete yet
        complete,  // header() and body() hold the request
        failed,    // closed by the peer, bad frame, or a socket error
    };

    MsgRequestReader(int fd, std::chrono::steady_clock::time_point deadline);
    ~MsgRequestReader();
    MsgRequestReader(MsgRequestReader&& other) noexcept;
    MsgRequestReader& operator=(MsgRequestReader&&) = delete;
    MsgRequestReader(const MsgRequestReader&) = delete;
    MsgRequestReader& operator=(const MsgRequestReader&) = delete;

    // Reads what the socket holds now, without blocking.
    Step read();
    int fd() const { return fd_; }
    // When the whole frame must have arrived.
    std::chrono::steady_clock::time_point deadline() const { return deadline_; }
    const MsgFrameHeader& header() const { return header_; }
    // The body of a complete frame.
    const String& body() const { return body_; }
    // Hands the socket to the caller; the reader no longer closes it.
    int release();

  private:
    // The header's announced frame, once its 16 bytes are in; false if bad.
    bool headerAcceptable();

    int fd_;
    std::chrono::steady_clock::time_point deadline_;
    MsgFrameHeader header_;
    std::size_t headerHave_ = 0;
    String body_;
    std::size_t bodyHave_ = 0;
};
