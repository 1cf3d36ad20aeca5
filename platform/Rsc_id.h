#pragma once

#include <cstdint>

// The platform's resource address, 8 bytes as passed by value: a processor box
// number, 16 bits of 0 and a resource number.
struct Rsc_id {
    std::uint16_t box = 0;
    std::uint16_t pad = 0;
    std::uint32_t rsc = 0;
};
static_assert(sizeof(Rsc_id) == 8, "Rsc_id travels as 8 bytes");
