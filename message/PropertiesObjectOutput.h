#pragma once

#include <cstddef>
#include <cstdint>

// The owner's answer to a remote property update, as updateProperties copies
// it out of the reply.
struct PropertiesObjectOutput {
    // The new status stamp of the stored set (file time or record counter).
    std::uint32_t status;
    // The owner's PropertiesError when the update failed.
    std::uint32_t error_code;
    // The owner's errno when that error is OS_SYSTEM_ERROR.
    std::uint32_t error_no;
};
static_assert(sizeof(PropertiesObjectOutput) == 12, "reply record is 12 bytes");
static_assert(offsetof(PropertiesObjectOutput, status) == 0);
static_assert(offsetof(PropertiesObjectOutput, error_code) == 4);
static_assert(offsetof(PropertiesObjectOutput, error_no) == 8);
