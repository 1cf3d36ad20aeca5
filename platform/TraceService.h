#pragma once

#include <ostream>

// The platform's trace service. A message is composed on the stream that
// MC_std_trace() returns (one stream per thread) and ended by TraceManip,
// which records it at the given level when that level is at or below the
// process's current trace level, and starts the next message empty.

// The calling thread's standard trace stream.
std::ostream& MC_std_trace();

// Ends the message composed on `stream` and records it at `level`. The flag
// asks for the message to be recorded whole; the module always passes true.
std::ostream& TraceManip(std::ostream& stream, int level, bool flag);

// The process's current trace level.
int MC_current_trace_level();

// One printf-style trace line at the verbose level (3).
void verbose(const char* format, ...) __attribute__((format(printf, 1, 2)));
