#pragma once

#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/String.h"

// The stand-in's messaging transport. Each box resource listens on a Unix
// domain stream socket at the platform path "/vm/run/box<BOX>.<RESOURCE>"
// (placed under the platform root). One connection carries one exchange: the
// client connects, sends one request frame and reads one reply frame; then
// both sides close (a box on another host is reached over TCP instead, with
// the same frames: see TlsChannel.h). Every frame, request or reply, is a
// 16-byte header in the host's byte order followed by the body:
//
//   offset 0   uint32  magic kMsgFrameMagic
//   offset 4   int32   opcode (a reply repeats its request's)
//   offset 8   int32   message type: kMsgRequestType (a request also names
//                      its sending box in the high 16 bits, and may say
//                      with RequestActor::typeFlag that an actor follows
//                      its body, see RequestActor.h), or kMsgReplyType
//   offset 12  uint32  body length in bytes, at most MCMsg::maxBody
//   offset 16  body
struct MsgFrameHeader {
    std::uint32_t magic = 0;
    std::int32_t opcode = 0;
    std::int32_t type = 0;
    std::uint32_t length = 0;
};
static_assert(sizeof(MsgFrameHeader) == 16, "frame header travels as 16 bytes");

constexpr std::uint32_t kMsgFrameMagic = 0x4D534731;  // "MSG1"
constexpr std::int32_t kMsgRequestType = 1;
// A request's type word also names the sending box in its high 16 bits (0:
// not said), so that a server can tell whose request it answers; the low 16
// bits are the message type.
constexpr std::int32_t msgRequestTypeFrom(std::uint16_t box) {
    return kMsgRequestType | static_cast<std::int32_t>(static_cast<std::uint32_t>(box) << 16);
}
constexpr std::int32_t msgFrameType(std::int32_t type) {
    return type & 0xffff;
}
constexpr std::uint16_t msgRequestSender(std::int32_t type) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(type) >> 16);
}
constexpr std::int32_t kMsgReplyType = 3;

// One connected socket of the transport, with a time limit on its transfers
// and an optional wake descriptor that interrupts them. Owns the socket and
// closes it on destruction. Never raises SIGPIPE.
class MsgChannel {
  public:
    enum class Io {
        ok,
        closed,    // the peer closed (or reset) the connection
        failed,    // a system call failed; see error()
        timedOut,  // the time limit passed
        stopped,   // the wake descriptor became readable
        badFrame,  // the header's magic is wrong
        tooLong,   // the header announces more body than the buffer holds
    };

    // Host path of the socket of a box resource (under the current root).
    static String socketPath(std::uint32_t box, std::uint32_t resource);
    // Fills a Unix socket address; false when the path with its terminating
    // NUL does not fit into sun_path.
    static bool socketAddress(const String& hostPath, sockaddr_un* address);

    // `timeoutMs`: time limit for all transfers from now on; negative for
    // none. `wakeFd`: -1, or a descriptor whose readability stops transfers.
    MsgChannel(int fd, int timeoutMs, int wakeFd = -1);
    ~MsgChannel();
    MsgChannel(const MsgChannel&) = delete;
    MsgChannel& operator=(const MsgChannel&) = delete;

    // Starts a new time limit from now (negative: none).
    void setTimeout(int timeoutMs);
    // Sends a header and header.length body bytes.
    Io send(const MsgFrameHeader& header, const void* body);
    // Reads one frame: its header, then its body into `body`. badFrame and
    // tooLong leave the body unread (the header is filled as read).
    Io receive(MsgFrameHeader* header, void* body, std::size_t capacity);
    // errno of the last failed system call (0 if none).
    int error() const { return error_; }

  private:
    Io await(short events);
    Io writeAll(const char* bytes, std::size_t count);
    Io readAll(char* bytes, std::size_t count);

    int fd_;
    int wakeFd_;
    bool limited_ = false;
    std::chrono::steady_clock::time_point deadline_;
    int error_ = 0;
};
