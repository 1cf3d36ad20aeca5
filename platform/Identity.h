#pragma once

#include "platform/Rsc_id.h"

// The platform's identity service: fills id->box with the processor box this
// process runs on and returns 0; any other result means the box is unknown
// and id is left as it was.
int who_am_i(Rsc_id* id);
