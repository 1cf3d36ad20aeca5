#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/String.h"

// Who a remote property update is made for, so that the owner box journals
// the change under the user who made it (a console user, $SUDO_USER, the
// user name of the sending process) and not under its own daemon's user.
// The actor travels at the end of the request's body, and a flag in the
// frame's type word says so:
//
//   body  the request's own bytes, then the actor's bytes, then one byte
//         holding the actor's length (1 to maxLength)
//   type  kMsgRequestType | typeFlag (and the sending box above, on a host)
//
// Servers take the trailer off before their handler sees the body, so
// handlers see the request as it was made. A server built before the flag
// refuses such a frame: owner boxes are updated before the boxes that send
// to them. The actor is the sender's word, as a local save's $SUDO_USER is;
// the owner journals it beside the sending box, which the transport vouches
// for. Plain functions; thread-safe.
class RequestActor {
  public:
    static constexpr std::int32_t typeFlag = 0x100;
    static constexpr std::size_t maxLength = 255;
    // The most a trailer adds to a body.
    static constexpr std::size_t maxTrailer = maxLength + 1;

    // Whether `actor` can travel: 1 to maxLength bytes, no control character.
    static bool valid(std::string_view actor);
    // Appends the trailer for `actor` to `body` and returns `type` with the
    // flag; an actor that cannot travel leaves both as they are.
    static std::int32_t append(std::int32_t type, String& body, std::string_view actor);
    // Takes the trailer that `type` announces off `body` into `actor`
    // (empty when none is announced). False when the announced trailer is
    // not there or holds no valid actor, or when the body left is longer
    // than `maxBody` (the trailer's room is for the trailer only): the frame
    // is bad.
    static bool take(std::int32_t type, String& body, std::string& actor, std::size_t maxBody);
    // The message type of a type word, without the box above and the flag.
    static std::int32_t messageType(std::int32_t type) { return type & 0xffff & ~typeFlag; }
};
