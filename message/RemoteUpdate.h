#pragma once

#include "message/PropertiesObjectInput.h"
#include "message/PropertiesObjectOutput.h"
#include "platform/Export.h"
#include "platform/Rsc_id.h"
#include "platform/Usagemark.h"

// Hands a property set to the processor box that owns it: sends `input` (and
// `owner` itself) in one request with opcode 39169 to the resource `owner`
// names, and waits for the owner's reply without a time limit. The calling
// thread blocks for as long as the owner takes and keeps the run token.
//
// Returns the messaging status when the exchange fails (non-zero; `output`
// is left untouched; MSG_SHORT_REPLY when the reply is shorter than the
// 16-byte reply record), otherwise the owner's result code: 0 when the update
// was applied, non-zero when it was refused; in both cases `output` holds the
// owner's status, error code and errno. The temporary file named in `input`
// is neither read nor removed here. Returns 1114 when no message could be
// allocated.
CFGADM_EXPORT int updateProperties(Rsc_id owner, const PropertiesObjectInput* input,
                                   PropertiesObjectOutput* output);

// The usage mark of the remote update, built when the module is loaded.
extern Usagemark updatePropertiesMark;
