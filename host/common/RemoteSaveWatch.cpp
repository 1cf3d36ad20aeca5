#include "host/common/RemoteSaveWatch.h"

#include <cstdlib>

#include "platform/OrvexMsgClient.h"

namespace {

const char kHandOffFailed[] = "update by box ";
const char kResult[] = " failed, result ";
// What updateProperties answers when it cannot make a message at all.
constexpr int kNoMessage = 1114;

}  // namespace

RemoteSaveWatch::RemoteSaveWatch() {
    HostTrace::addSink(this);
}

RemoteSaveWatch::~RemoteSaveWatch() {
    HostTrace::removeSink(this);
}

void RemoteSaveWatch::message(int level, const String& text) {
    if (level <= 1) lastProblem_ = text;
    std::size_t start = text.find(kHandOffFailed);
    if (start == String::npos) return;
    std::size_t at = text.find(kResult, start);
    if (at == String::npos) return;
    char* end = nullptr;
    long result = std::strtol(text.c_str() + at + sizeof kResult - 1, &end, 10);
    if (end != text.c_str() + at + sizeof kResult - 1) result_ = static_cast<int>(result);
}

bool RemoteSaveWatch::isMessagingStatus(int result) {
    return (result >= static_cast<int>(MSG_NO_LISTENER) &&
            result <= static_cast<int>(MSG_TIMED_OUT)) ||
           (result >= static_cast<int>(MSG_BAD_ROUTE) &&
            result <= static_cast<int>(MSG_CONNECT_TIMED_OUT)) ||
           result == kNoMessage;
}

String RemoteSaveWatch::describeStatus(int status, std::uint16_t owner) {
    String box = "owner box " + std::to_string(owner);
    String words;
    switch (status) {
        case MSG_NO_LISTENER:
            words = box + " is not listening";
            break;
        case MSG_BAD_ADDRESS:
            words = box + " cannot be addressed on this machine";
            break;
        case MSG_IO_ERROR:
            words = "the exchange with " + box + " failed";
            break;
        case MSG_PEER_CLOSED:
            words = box + " closed the connection before answering";
            break;
        case MSG_BAD_FRAME:
        case MSG_WRONG_TYPE:
            words = box + " answered with something other than an update reply";
            break;
        case MSG_REPLY_TOO_LONG:
            words = box + " answered with an over-long reply";
            break;
        case MSG_TIMED_OUT:
            words = box + " did not answer in time";
            break;
        case MSG_BAD_ROUTE:
            words = "the route to " + box + " cannot be read (see the routes file)";
            break;
        case MSG_TLS_REFUSED:
            words = "the TLS connection to " + box + " failed (certificates)";
            break;
        case MSG_CONNECT_TIMED_OUT:
            words = box + " did not accept a connection in time";
            break;
        case kNoMessage:
            words = "no message to " + box + " could be made";
            break;
        default:
            words = "the hand-off to " + box + " failed";
    }
    words += " (messaging status " + std::to_string(status) + ")";
    if (status == MSG_NO_LISTENER)
        words += "; is its owner daemon running? (vmpropd --box " + std::to_string(owner) + ")";
    return words;
}
