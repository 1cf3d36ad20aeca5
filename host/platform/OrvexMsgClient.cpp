#include "platform/OrvexMsgClient.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "host/platform/HandoffCarrier.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/JournalContext.h"
#include "host/platform/MsgChannel.h"
#include "host/platform/MsgRoutes.h"
#include "host/platform/RequestActor.h"
#include "host/platform/TcpMsgClient.h"

namespace {

std::uint32_t statusOf(MsgChannel::Io io) {
    switch (io) {
        case MsgChannel::Io::ok:
            return 0;
        case MsgChannel::Io::closed:
            return MSG_PEER_CLOSED;
        case MsgChannel::Io::timedOut:
            return MSG_TIMED_OUT;
        case MsgChannel::Io::badFrame:
            return MSG_BAD_FRAME;
        case MsgChannel::Io::tooLong:
            return MSG_REPLY_TOO_LONG;
        default:
            return MSG_IO_ERROR;
    }
}

// An update says who it is made for (RequestActor.h), so that the owner
// journals the user and not its own daemon: appends the trailer to `body`
// and returns the type word to send.
std::int32_t actorOf(int opcode, std::int32_t type, String& body) {
    if (opcode != HandoffCarrier::updateOpcode) return type;
    return RequestActor::append(type, body, JournalContext::actor());
}

// The exchange with a box on another host; an update carries its hand-off
// file's bytes, which the owner there cannot read from our "/vm/tmp".
MCStatus exchangeRemote(OrvexMsgClient& message, const MsgRoutes::Route& route, int timeoutMs,
                        int replyType) {
    MCStatus status;
    std::uint16_t box = static_cast<std::uint16_t>(message.to()[1]);
    String carried;
    std::size_t size = static_cast<std::size_t>(message.length());
    if (HandoffCarrier::carries(message.opcode(), size)) {
        if (int error = HandoffCarrier::read(message.body(), carried); error != 0) {
            HostTrace::record(
                1, "messaging: box " + std::to_string(box) + " at " + route.text() +
                       ": cannot read the hand-off file to send: " + std::strerror(error) +
                       " (messaging status " + std::to_string(MSG_IO_ERROR) + ")");
            status.status = MSG_IO_ERROR;
            status.sysErrno = static_cast<std::uint32_t>(error);
            return status;
        }
    }
    String trailer;
    std::int32_t type = actorOf(message.opcode(), kMsgRequestType, trailer);
    TcpMsgClient::Reply reply;
    status.status = TcpMsgClient::exchange(box, route, message.opcode(), type,
                                           std::string_view(message.body(), size), carried, trailer,
                                           timeoutMs, reply);
    status.sysErrno = reply.sysErrno;
    if (status.status != 0) return status;
    status.replyType = static_cast<std::uint32_t>(reply.header.type);
    status.replyLength = reply.header.length;
    std::memcpy(message.body(), reply.body.data(), reply.body.size());
    message.length(static_cast<int>(reply.body.size()));
    if (reply.header.type != replyType) status.status = MSG_WRONG_TYPE;
    return status;
}

}  // namespace

OrvexMsgClient::OrvexMsgClient(const MCMsg* message, int statusWord)
    : start_(message), statusWord_(static_cast<std::uint32_t>(statusWord)) {}

OrvexMsgClient::~OrvexMsgClient() = default;

bool OrvexMsgClient::allocate() {
    if (!MCMsg::allocate()) return false;
    if (start_ != nullptr && start_->allocated()) {
        opcode(start_->opcode());
        std::memcpy(to(), start_->to(), addressWords * sizeof(std::uint32_t));
        std::memcpy(body(), start_->body(), maxBody);
        length(start_->length());
    }
    return true;
}

const MCStatus& OrvexMsgClient::access_with_reply(int timeoutMs, int replyType) {
    status_ = MCStatus{};
    auto fail = [this](std::uint32_t status, int error = 0) -> const MCStatus& {
        status_.status = status;
        status_.sysErrno = static_cast<std::uint32_t>(error);
        return status_;
    };
    if (!allocated()) return fail(statusWord_);
    MsgRoutes::Route route;
    String problem;
    switch (MsgRoutes::find(to()[1], route, problem)) {
        case MsgRoutes::Lookup::bad:
            HostTrace::record(1, "messaging: no message to box " + std::to_string(to()[1]) + ": " +
                                     problem + " (messaging status " +
                                     std::to_string(MSG_BAD_ROUTE) + ")");
            return fail(MSG_BAD_ROUTE, EINVAL);
        case MsgRoutes::Lookup::tcp:
            status_ = exchangeRemote(*this, route, timeoutMs, replyType);
            return status_;
        case MsgRoutes::Lookup::local:
            break;
    }

    sockaddr_un address;
    if (!MsgChannel::socketAddress(MsgChannel::socketPath(to()[1], to()[2]), &address))
        return fail(MSG_BAD_ADDRESS, ENAMETOOLONG);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail(MSG_IO_ERROR, errno);
    MsgChannel channel(fd, timeoutMs);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        bool nobody = error == ENOENT || error == ECONNREFUSED || error == ENOTDIR;
        return fail(nobody ? MSG_NO_LISTENER : MSG_IO_ERROR, error);
    }

    MsgFrameHeader request;
    request.magic = kMsgFrameMagic;
    request.opcode = opcode();
    String sent(body(), static_cast<std::size_t>(length()));
    request.type = actorOf(opcode(), msgRequestTypeFrom(HostPlatform::box()), sent);
    request.length = static_cast<std::uint32_t>(sent.size());
    if (auto io = channel.send(request, sent.data()); io != MsgChannel::Io::ok)
        return fail(statusOf(io), channel.error());

    MsgFrameHeader reply;
    auto io = channel.receive(&reply, body(), maxBody);
    if (io == MsgChannel::Io::ok || io == MsgChannel::Io::tooLong) {
        status_.replyType = static_cast<std::uint32_t>(reply.type);
        status_.replyLength = reply.length;
    }
    if (io != MsgChannel::Io::ok) return fail(statusOf(io), channel.error());
    if (reply.opcode != request.opcode) return fail(MSG_BAD_FRAME);
    if (reply.type != replyType) return fail(MSG_WRONG_TYPE);
    length(static_cast<int>(reply.length));
    return status_;
}
