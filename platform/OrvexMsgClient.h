#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/MCMsg.h"

// The status record of a messaging call. Its third 32-bit word is the call's
// status: 0 when the reply arrived, otherwise one of the MsgStatus values (or
// the client's status word). The other words describe the call for
// diagnostics: the reply's message type and body length as read (0 when no
// reply header was read) and the errno of a failing system call (0 if none).
struct MCStatus {
    std::uint32_t replyType = 0;
    std::uint32_t replyLength = 0;
    std::uint32_t status = 0;
    std::uint32_t sysErrno = 0;
};
static_assert(sizeof(MCStatus) == 16 && offsetof(MCStatus, status) == 8,
              "the call's status is the record's third word");

// Statuses of a failed messaging call. Each names one way the exchange can go
// wrong; none of them is 0.
enum MsgStatus : std::uint32_t {
    // Nobody listens at the destination (no such resource, or refused).
    MSG_NO_LISTENER = 1401,
    // The destination cannot be addressed on this machine (its local address
    // would be too long).
    MSG_BAD_ADDRESS = 1402,
    // A system call of the transport failed (see MCStatus::sysErrno).
    MSG_IO_ERROR = 1403,
    // The peer closed the connection before the whole reply was read.
    MSG_PEER_CLOSED = 1404,
    // The reply is not a frame of this transport or answers another opcode.
    MSG_BAD_FRAME = 1405,
    // The reply announces a body longer than MCMsg::maxBody.
    MSG_REPLY_TOO_LONG = 1406,
    // The reply carries another message type than the one waited for.
    MSG_WRONG_TYPE = 1407,
    // The time limit passed before the reply was read whole.
    MSG_TIMED_OUT = 1408,
    // The reply is shorter than the record the caller expects as an answer
    // (reported by callers that know their reply's layout).
    MSG_SHORT_REPLY = 1409,
    // The routes file cannot be used (a line does not parse); the trace
    // names the file and the line.
    MSG_BAD_ROUTE = 1410,
    // The TLS connection to a box on another host failed: this box has no
    // usable certificate, or the peer's certificate or ours was refused.
    MSG_TLS_REFUSED = 1411,
    // The box on another host did not accept a connection within the
    // connect time limit.
    MSG_CONNECT_TIMED_OUT = 1412,
};

// The platform's messaging client: a message (see MCMsg) that can be sent to
// the resource in its destination and wait for the reply. Use it on the stack:
//     OrvexMsgClient client(nullptr, 1114);
//     client.allocate(); client.opcode(...); fill to() and body(); length(...);
//     status = client.access_with_reply(-1, 3).status; read body(); release().
class OrvexMsgClient : public MCMsg {
  public:
    // `message`: a message to start from; when it is given and holds a buffer,
    // allocate() copies its opcode, destination, body and length. nullptr
    // starts from an empty message. `statusWord`: the status access_with_reply
    // reports when the client has nothing to send (no buffer).
    OrvexMsgClient(const MCMsg* message, int statusWord);
    ~OrvexMsgClient() override;

    // Like MCMsg::allocate, then copies the starting message if there is one.
    bool allocate() override;

    // Sends the message to its destination and waits for the reply, which
    // overwrites the body (and sets length()). Blocks the calling thread for at
    // most `timeoutMs` milliseconds, or without limit when it is negative
    // (-1) and the box is served on this machine; a box on another host has
    // time limits of its own then (see the routes in the host's messaging).
    // The run token is not given up. A reply must carry `replyType` as
    // its message type. Never throws; failures are reported in the returned
    // record's status, and the body may then hold part of a reply. The record
    // belongs to the client and stays valid until the next call or its
    // destruction.
    const MCStatus& access_with_reply(int timeoutMs, int replyType);

  private:
    const MCMsg* start_;
    std::uint32_t statusWord_;
    MCStatus status_;
};
