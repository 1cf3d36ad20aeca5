#pragma once

#include "platform/String.h"

// Bytes shown on a terminal: printable ASCII as it is, a backslash doubled, a
// newline as \n, everything else as \xNN, so that a stored text cannot move
// the cursor; past `limit` bytes the rest is "...". JSON output carries the
// exact bytes instead. (Needs nothing of the module: the programs that do not
// link it use it too.)
String terminalText(const String& bytes, std::size_t limit = String::npos);
