#pragma once

#include <string>

// The platform's byte string: any bytes, zero bytes included.
using String = std::string;
