#pragma once

#include <ostream>

#include "platform/Export.h"
#include "platform/TraceService.h"

// The module's trace manipulators: each ends the message composed on the trace
// stream at its level, e.g.
//     MC_std_trace() << "can't open " << path << oops;
// Levels: oops 1 (failures), trace 2 (progress), verbose 3 (detail).
// Before composing a costly message, check MC_current_trace_level() > 2.
CFGADM_EXPORT std::ostream& oops(std::ostream& stream);
CFGADM_EXPORT std::ostream& trace(std::ostream& stream);
CFGADM_EXPORT std::ostream& verbose(std::ostream& stream);
