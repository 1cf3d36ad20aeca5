#pragma once

#include <cstdint>

#include "platform/String.h"
#include "properties/Properties.h"

// The owner's answer to a remote property update, as it travels: a 16-byte
// body of four host-order words (result, status, error code, errno). Result
// 0 means applied, and status is then the stored set's new stamp; any other
// result means refused, and the error code (a Properties::PropertiesError)
// and errno say why. A plain value.
struct UpdateReply {
    std::uint32_t result = 0;
    std::uint32_t status = 0;
    std::uint32_t errorCode = Properties::NO_ERROR;
    std::uint32_t errorNo = 0;

    static UpdateReply applied(Properties::PropertiesStatus status);
    static UpdateReply refused(Properties::PropertiesError error, int errorNo);
    // The 16 bytes of the reply body.
    String body() const;
};
