#pragma once

#include <cstdint>

// The platform's tick clock for usage marks: microseconds from an arbitrary
// start, never going backwards. Does not block.
std::int64_t get_ptick();
