#pragma once

#include <cstdint>
#include <string_view>

#include "host/platform/MsgChannel.h"
#include "host/platform/MsgRoutes.h"
#include "platform/OrvexMsgClient.h"
#include "platform/String.h"

// The client side of the messaging between hosts: one exchange with a box
// that the routes send over TCP (see MsgRoutes, TlsChannel). Connections are
// kept per destination and reused by later exchanges of the process (a
// forked child opens its own); one that the server closed while idle is
// replaced once, transparently. A kept connection is not used again once the
// certificate folder's ca.pem or crl.pem changed after it was opened.
//
// Time limits, from the environment at each exchange: VM_MSG_CONNECT_MS
// (default 3000) for the TCP connection, the TLS handshake and the hellos;
// VM_MSG_REPLY_MS (default 10000) for sending the request and reading the
// whole reply, or the caller's limit when it gives one (timeoutMs >= 0). A
// value that is not a positive number of milliseconds means the default.
//
// The client's certificates come from TlsContext::defaultDirectory() for
// box HostPlatform::box(), read when a connection is opened. Every failure
// is a status of MsgStatus with a level-1 trace line that names the box, the
// address and what went wrong in words. Thread-safe.
class TcpMsgClient {
  public:
    static constexpr int defaultConnectMs = 3000;
    static constexpr int defaultReplyMs = 10000;

    struct Reply {
        MsgFrameHeader header;
        String body;
        std::uint32_t sysErrno = 0;
    };

    // Sends `body`, `carried` and `trailer` as one request frame of message
    // type `type` and reads the reply (at most MCMsg::maxBody bytes) into
    // `reply`; 0 or a MsgStatus.
    static std::uint32_t exchange(std::uint16_t box, const MsgRoutes::Route& route, int opcode,
                                  std::int32_t type, std::string_view body,
                                  std::string_view carried, std::string_view trailer, int timeoutMs,
                                  Reply& reply);
    static int connectTimeoutMs();
    static int replyTimeoutMs();
};
