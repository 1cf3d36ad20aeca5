#pragma once

#include <cstddef>
#include <cstdint>

#include "message/PropertiesObjectInput.h"
#include "platform/Rsc_id.h"
#include "platform/String.h"
#include "properties/Properties.h"

// A remote property update as it arrives from a peer (see RemoteUpdate.h):
// opcode 39169 and a 3080-byte body, the addressed Rsc_id (its spare word
// naming the sending box, 0 when unknown) followed by the
// three NUL-padded 1024-byte fields of PropertiesObjectInput. parse() checks
// the frame and each field and copies them out; nothing in the body is
// trusted beyond these checks. A plain value; blocks on nothing.
class UpdateRequest {
  public:
    static constexpr int opcode = 39169;
    static constexpr std::size_t bodyLength = sizeof(Rsc_id) + sizeof(PropertiesObjectInput);

    enum class Check {
        ok,
        badFrame,  // another opcode or body length: not an update request at all
        badField,  // a field has no NUL within its 1024 bytes
    };

    // Fills `request` only when the result is ok.
    static Check parse(int opcode, const String& body, UpdateRequest& request);

    // All 1024 key bytes (a path, or a record number in the first 4 bytes).
    Properties::PropertiesID key;
    // Platform path of the hand-off file, as the peer wrote it.
    String handoffPath;
    String factoryName;
    // The sending box, from the addressed id's spare word; 0 when the
    // sender did not say.
    std::uint16_t senderBox = 0;
};
